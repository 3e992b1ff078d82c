// Shared set-up of the emulated-phone tests: phones started in-process on real
// pseudo-terminals under a temporary port dir, and a raw host to talk to them.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "devsim/phone_farm.h"
#include "support/raw_host.h"
#include "support/temp_dir.h"

namespace mirk3::devsim {

inline bool WaitUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

class DevsimTest : public ::testing::Test {
 protected:
  FarmConfig Config(std::vector<int> ports = {0}) {
    FarmConfig config;
    config.portDir = dir_ / "ports";
    config.ports = std::move(ports);
    return config;
  }

  void Start(const FarmConfig& config) {
    farm_ = std::make_unique<PhoneFarm>(config);
    std::string error;
    ASSERT_TRUE(farm_->Start(&error)) << error;
  }

  // Opens the port and greets the phone; the test fails when that does not work.
  void Connect(test::RawHost& host, int port = 0) {
    ASSERT_TRUE(host.Open(farm_->LinkPath(port)));
    ASSERT_EQ(host.Greet(), "TASH");
  }

  std::string Path(const std::string& name) const { return dir_ / name; }

  test::TempDir dir_;
  std::unique_ptr<PhoneFarm> farm_;
};

}  // namespace mirk3::devsim
