// A host for tests that speaks the download protocol by hand over a real port: it opens
// <port dir>/ttyACM<n> exclusively in raw mode and sends greetings, requests and raw bytes.
// Every call has a time-out, so a test that meets a silent device fails instead of hanging;
// a device that went away is told apart from one that is only slow.
#pragma once

#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "wire/response_packet.h"

namespace mirk3::test {

enum class HostIo { Ok, Timeout, Gone, Error };

class RawHost {
 public:
  using Millis = std::chrono::milliseconds;
  static constexpr Millis kPatience{30000};

  RawHost() = default;
  ~RawHost() { Close(); }
  RawHost(const RawHost&) = delete;
  RawHost& operator=(const RawHost&) = delete;

  // Opens the port as the station does (exclusive, raw); retries until `timeout` while the
  // link is missing or busy.
  bool Open(const std::string& path, Millis timeout = Millis(10000));
  void Close();
  bool IsOpen() const { return fd_ >= 0; }

  HostIo Write(const void* data, size_t size, Millis timeout = kPatience);
  HostIo Read(void* data, size_t size, Millis timeout = kPatience);

  // Sends "MIRK" and returns the 4 bytes answered (empty when nothing came).
  std::string Greet(Millis timeout = kPatience);
  // Sends one 1024-byte request and reads its 8-byte response.
  std::optional<ResponsePacket> Request(int32_t type, int32_t subType,
                                        std::initializer_list<int32_t> words = {},
                                        Millis timeout = kPatience);
  // Sends one request that has no response (a piece request).
  bool Send(int32_t type, int32_t subType, std::initializer_list<int32_t> words = {});
  // Reads a record handed out in pieces of 500 bytes: `size` bytes with piece requests
  // type/pieceSubType; empty when a piece does not come.
  std::vector<uint8_t> ReadPieces(int32_t type, int32_t pieceSubType, int32_t size);

 private:
  int fd_ = -1;
};

}  // namespace mirk3::test
