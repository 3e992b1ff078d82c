// A minimal far end for throughput figures: a pseudo-terminal published as a port that
// swallows fixed-size packets and answers each with 8 bytes, like a boot loader receiving data.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace mirk3::bench {

class AckDevice {
 public:
  AckDevice(const std::string& portDir, int port, size_t packetSize) : packet_(packetSize) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    grantpt(master_);
    unlockpt(master_);
    const std::string slave = ptsname(master_);
    slave_ = ::open(slave.c_str(), O_RDWR | O_NOCTTY);
    termios tio{};
    tcgetattr(slave_, &tio);
    cfmakeraw(&tio);
    tcsetattr(slave_, TCSANOW, &tio);
    link_ = portDir + "/ttyACM" + std::to_string(port);
    ::unlink(link_.c_str());
    if (::symlink(slave.c_str(), link_.c_str()) != 0) std::perror("symlink");
    thread_ = std::thread([this] { Serve(); });
  }
  ~AckDevice() {
    stop_ = true;
    thread_.join();
    ::unlink(link_.c_str());
    ::close(slave_);
    ::close(master_);
  }

 private:
  void Serve() {
    std::vector<char> buffer(1 << 20);
    size_t got = 0;
    const char ack[8] = {0};
    while (!stop_) {
      pollfd pfd{master_, POLLIN, 0};
      if (::poll(&pfd, 1, 50) <= 0) continue;
      const ssize_t n = ::read(master_, buffer.data(), buffer.size());
      if (n <= 0) continue;
      got += static_cast<size_t>(n);
      while (got >= packet_) {
        got -= packet_;
        if (::write(master_, ack, sizeof ack) != 8) return;
      }
    }
  }

  size_t packet_;
  int master_ = -1;
  int slave_ = -1;
  std::string link_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

enum class Better { Higher, Lower };

inline void PrintBench(const char* name, double ratio, double target,
                       Better better = Better::Higher) {
  std::printf("BENCH %s ratio=%.3f target=%.2f%s\n", name, ratio, target,
              better == Better::Lower ? " better=lower" : "");
  std::fflush(stdout);
}

}  // namespace mirk3::bench
