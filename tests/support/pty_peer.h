// The far end of a serial line for tests: a real pseudo-terminal whose terminal side is
// published as <port dir>/ttyACM<n>. The test plays the device on the master side; closing
// the master is what an unplugged device looks like to the station.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace mirk3::test {

class PtyPeer {
 public:
  PtyPeer(const std::string& portDir, int port);
  ~PtyPeer();
  PtyPeer(const PtyPeer&) = delete;
  PtyPeer& operator=(const PtyPeer&) = delete;

  // Reads exactly `count` bytes; returns fewer when the time-out passes or the line closes.
  std::vector<uint8_t> Read(size_t count,
                            std::chrono::milliseconds timeout = std::chrono::seconds(30));
  bool Write(const void* data, size_t count);
  bool Write(const std::vector<uint8_t>& bytes) { return Write(bytes.data(), bytes.size()); }
  // Answers one request with (id, value).
  bool Respond(int32_t id, int32_t value);
  // Closes the master side and removes the link: the device is gone.
  void Unplug();
  bool Plugged() const { return master_ >= 0; }
  const std::string& LinkPath() const { return link_; }

 private:
  int master_ = -1;
  int keepSlave_ = -1;
  std::string link_;
};

}  // namespace mirk3::test
