// One port's download: a copy of the run's options, the serial line, the package slot lists,
// the counters and the negotiated protocol values, and the steps that a worker thread runs in
// order until the first failure. The engine reaches the station only through its ReportSink.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/file.h"
#include "engine/analysis_result.h"
#include "engine/chosen_packages.h"
#include "engine/download_options.h"
#include "engine/engine_context.h"
#include "engine/engine_line.h"
#include "engine/engine_report.h"
#include "engine/packet_layer.h"
#include "engine/report_channel.h"
#include "packages/content_list.h"
#include "packages/download_entry.h"
#include "packages/member_stream.h"
#include "wire/end_of_sequence.h"
#include "wire/one_click_trailer.h"
#include "wire/package_slot.h"
#include "wire/request_table.h"

namespace mirk3 {

inline constexpr double ENGINE_VERSION = 3.1203;

class CDownloadEngine {
 public:
  CDownloadEngine(ReportSink* sink, int port, EngineContext context = {});
  ~CDownloadEngine();
  CDownloadEngine(const CDownloadEngine&) = delete;
  CDownloadEngine& operator=(const CDownloadEngine&) = delete;

  // Copies the run's options, then applies a One Click program's own.
  void CopyOptions(const DownloadOptions& options);
  // Runs the full or the short step table; false at the first failing step.
  bool RunSteps();

  // File analysis as the first step of a full download runs it, with the same reports, for a
  // caller that shows what a download would do; the engine's own state is left as it was.
  FileAnalysis AnalyseFiles();

  // For tools that talk to a phone without flashing it: the connection and initialization
  // steps, the read of the device's partition table (the line must be open and initialized),
  // and the close of the download (103/0) when the line is open, which gives the port up and
  // leaves the phone in download mode.
  bool SetupConnection();
  bool InitializationStep();
  bool ReadDevicePit(std::vector<uint8_t>* table);
  void EndSessionWithoutReboot();

  int Port() const { return port_; }
  // The run's options as the engine goes on with them, a One Click program's included.
  const DownloadOptions& Options() const { return options_; }
  bool OneClickMode() const { return oneClickMode_; }

 private:
  using Step = bool (CDownloadEngine::*)();
  static const std::vector<Step>& FullSequence();
  static const std::vector<Step>& ShortSequence();
  static const char* StepName(Step step);

  // Reports. Every event of the engine goes through its report channel.
  void Report(int message, int64_t value, const char* format, ...)
      __attribute__((format(printf, 4, 5)));
  void ReportText(int message, int64_t value, const std::string& text) {
    reports_.ReportText(message, value, text);
  }

  // Steps.
  bool FileAnalysisStep();
  bool DeviceInfoStep();
  // The lock, erase and T-flash requests: they change the phone, so they go out only after
  // the device-info check has passed.
  bool OptionRequestsStep();
  bool SetPartitionStep();
  bool GetPitStep();
  // Every member of every slot can be sent to this phone (it has a partition, and the
  // partition a transfer size); run right after the device's table is mapped, so a phone is
  // refused before its first byte is written, never in the middle.
  bool CheckEntriesSendable();
  bool FirmwareUpdateStep();
  bool CloseStep();

  bool CheckDeviceInfo(const std::vector<uint8_t>& record);

  // The packages of this download, and whether a slot takes part in it.
  ChosenPackages Packages() const;
  bool SlotChosen(int slot) const { return Packages().Chosen(slot); }
  // Takes the slot lists, the total, the package's partition table and the meta-data verdict
  // from what file analysis found; true when it passed.
  bool KeepAnalysis(FileAnalysis found);
  // Verifies the chosen packages' meta-data into metaDataValid_ and packageModel_.
  void CheckPackagesMetaData();

  // Partition tables.
  bool LoadPitToUpload(std::vector<uint8_t>* table);
  bool MapPitToEntries(const std::vector<uint8_t>& table);

  // File transmission.
  bool SendPhoneEntry(int fd, const DownloadEntry& entry, ByteStream* stream, int slot);
  bool SendModemEntry(int fd, const DownloadEntry& entry);
  // The end-of-sequence request, after which the boot loader writes the sequence.
  int32_t SendEndOfSequence(const EndOfSequence& end);
  bool SendSlot(int fd, int slot);
  // A One Click member's bytes: inflated for compressed slots, as stored for the others.
  std::unique_ptr<ByteStream> OpenMemberStream(int fd, int slot, const DownloadEntry& entry);
  uint64_t MemberLength(const DownloadEntry& entry, int slot) const;
  // Why `entry` of `slot` cannot be sent to this phone; empty when it can.
  std::string EntryProblem(const DownloadEntry& entry, int slot) const;

  void DetectOneClick();
  void NegotiatePacketSize();
  bool RunStep(Step step);
  void ExplainLineFailure();
  void CloseOwnExecutable();

  int port_;
  ReportChannel reports_;
  uint64_t packageTotal_ = 0;
  DownloadOptions options_;
  int32_t resetDelay_ = 1;
  EngineContext context_;
  EngineLine line_;
  PacketLayer packets_{line_, reports_};
  std::array<EntryList, SLOT_COUNT> fileLists_;
  char packageModel_[PACKAGE_MODEL_SIZE] = {};
  bool metaDataValid_ = false;  // nothing verified yet: a device-info check cannot pass
  bool metaDataChecked_ = false;
  std::string metaDataWhy_;  // why the meta-data did not verify, for the operator
  OneClickTrailer trailer_;
  UniqueFd ownExecutableFd_;  // open in One Click mode: the packages are read through it
  bool oneClickMode_ = false;
  PackagePit packagePit_;
  int32_t protocolVersion_ = 0;
};

}  // namespace mirk3
