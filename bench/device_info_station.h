// A headless station beside emulated phones (ttyACM0 .. ttyACM<phones-1> in `portDir`), set for
// device-info runs of one AP package: what the meta-data benchmarks run their runs on.
#pragma once

#include <filesystem>
#include <string>

#include "bench_station.h"
#include "devsim/phone_farm.h"
#include "station/headless.h"
#include "station/qt_report_sink.h"
#include "station/station.h"

namespace mirk3::bench {

class DeviceInfoStation {
 public:
  DeviceInfoStation(const std::string& portDir, int phones, const std::string& package)
      : farm_(Farm(portDir, phones)),
        pump_([this](const PortEvent& e) { station_.HandleEvent(e); }),
        station_(&view_, &pump_, Context(portDir)) {
    started_ = farm_.Start();
    DownloadOptions options;
    options.deviceInfo = 1;
    options.slotEnabled[AP] = 1;
    options.slotPath[AP] = package;
    ChooseInStation(station_, options);
  }

  // False when the emulated phones could not be started.
  bool Started() const { return started_; }
  Station& Core() { return station_; }

  // One run of the phones placed now, to its summary; true when `passes` phones passed.
  bool RunToEnd(int passes) {
    if (!station_.Start()) return false;
    WaitForRunEnd(station_);
    return station_.Succeeded() == passes;
  }

 private:
  static devsim::FarmConfig Farm(const std::string& portDir, int phones) {
    devsim::FarmConfig config;
    config.portDir = portDir;
    for (int p = 0; p < phones; ++p) config.ports.push_back(p);
    std::filesystem::create_directories(portDir);
    return config;
  }
  static EngineContext Context(const std::string& portDir) {
    EngineContext context;
    context.timing = QuickTiming();
    context.portDir = portDir;
    return context;
  }

  devsim::PhoneFarm farm_;
  bool started_ = false;
  QuietView view_;
  QtReportSink pump_;  // made before the station it hands the events to
  Station station_;
};

}  // namespace mirk3::bench
