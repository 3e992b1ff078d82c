// One port's download: a copy of the run's options, the serial line and the negotiated
// protocol values, and the steps that a worker thread runs in order until the first failure.
// File analysis makes the download's plan (what to send, the total, the package's partition
// table, the meta-data verdict); the later steps take it as it is. The engine reaches the
// station only through its EngineObserver, as typed events.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/file.h"
#include "engine/chosen_packages.h"
#include "engine/download_options.h"
#include "engine/download_plan.h"
#include "engine/engine_context.h"
#include "engine/engine_line.h"
#include "engine/engine_events.h"
#include "engine/member_sender.h"
#include "engine/packet_layer.h"
#include "engine/report_channel.h"
#include "packages/content_list.h"
#include "packages/download_entry.h"
#include "wire/one_click_trailer.h"
#include "wire/package_slot.h"
#include "wire/request_table.h"

namespace mirk3 {

inline constexpr double ENGINE_VERSION = 3.1203;

class CDownloadEngine {
 public:
  CDownloadEngine(EngineObserver* observer, int port, EngineContext context = {});
  ~CDownloadEngine();
  CDownloadEngine(const CDownloadEngine&) = delete;
  CDownloadEngine& operator=(const CDownloadEngine&) = delete;

  // Copies the run's options, then applies a One Click program's own.
  void CopyOptions(const DownloadOptions& options);
  // Runs the full or the short step table; false at the first failing step.
  bool RunSteps();

  // File analysis as the first step of a full download runs it, with the same reports, for a
  // caller that shows what a download would do.
  DownloadPlan AnalyseFiles();

  // For tools that talk to a phone without flashing it: the connection and initialization
  // steps, the read of the device's partition table (the line must be open and initialized),
  // and the close of the download (103/0) when the line is open, which gives the port up and
  // leaves the phone in download mode.
  // Initialization announces the plan's total, except in the device-info session.
  bool SetupConnection();
  bool InitializationStep(const DownloadPlan& plan = {});
  bool ReadDevicePit(std::vector<uint8_t>* table);
  void EndSessionWithoutReboot();

  int Port() const { return port_; }
  // The run's options as the engine goes on with them, a One Click program's included.
  const DownloadOptions& Options() const { return options_; }
  bool OneClickMode() const { return oneClickMode_; }

 private:
  // One row of the step table: the name a failure without a text of its own is reported
  // with, what the step does (file analysis makes the plan, the others only read it), and
  // whether the device-info session runs it too.
  struct Step {
    const char* name;
    bool (*run)(CDownloadEngine& engine, DownloadPlan& plan);
    bool inDeviceInfoSession;
  };
  static const std::vector<Step>& Steps();
  // Steps.
  bool FileAnalysisStep(DownloadPlan* plan);
  bool DeviceInfoStep(const DownloadPlan& plan);
  // The lock, erase and T-flash requests: they change the phone, so they go out only after
  // the device-info check has passed.
  bool OptionRequestsStep();
  bool SetPartitionStep(const DownloadPlan& plan);
  bool GetPitStep(const DownloadPlan& plan);
  bool FirmwareUpdateStep(const DownloadPlan& plan);
  bool CloseStep();

  // The device's information record, read piece by piece.
  bool ReadDeviceInfo(std::vector<uint8_t>* record);
  // The record against the packages' meta-data verdict and model, which `facts` holds.
  bool CheckDeviceInfo(const std::vector<uint8_t>& record, const DownloadPlan& facts);

  // The packages of this download.
  ChosenPackages Packages() const;
  // The chosen packages' meta-data verdict alone, for the session that analyses no files.
  DownloadPlan CheckPackagesMetaData() const;

  // Partition tables.
  bool LoadPitToUpload(const PackagePit& packagePit, std::vector<uint8_t>* table);
  bool MapPitToEntries(const DownloadPlan& plan, const std::vector<uint8_t>& table);

  void DetectOneClick();
  void NegotiatePacketSize();
  bool RunStep(const Step& step, DownloadPlan& plan);
  void ExplainLineFailure();
  void CloseOwnExecutable();

  int port_;
  ReportChannel reports_;
  DownloadOptions options_;
  int32_t resetDelay_ = 1;
  EngineContext context_;
  EngineLine line_;
  PacketLayer packets_{line_, reports_};
  // The plan's members as the device's partition table places them: filled by the partition
  // table read, sent by the firmware update.
  PlacedMembers placed_;
  OneClickTrailer trailer_;
  UniqueFd ownExecutableFd_;  // open in One Click mode: the packages are read through it
  bool oneClickMode_ = false;
  int32_t protocolVersion_ = 0;
};

}  // namespace mirk3
