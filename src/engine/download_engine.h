// One port's download: a copy of the run's options, the serial line, the package slot lists,
// the counters and the negotiated protocol values, and the steps that a worker thread runs in
// order until the first failure. The engine reaches the station only through its ReportSink.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/file.h"
#include "engine/download_options.h"
#include "engine/engine_context.h"
#include "engine/engine_report.h"
#include "engine/packet_layer.h"
#include "engine/report_channel.h"
#include "packages/content_list.h"
#include "packages/download_entry.h"
#include "packages/member_stream.h"
#include "packages/tar_walk.h"
#include "serial/serial_line.h"
#include "wire/end_of_sequence.h"
#include "wire/one_click_trailer.h"
#include "wire/package_slot.h"
#include "wire/request_table.h"

namespace mirk3 {

inline constexpr double ENGINE_VERSION = 3.1203;

// The partition table found inside a package (or carried by a One Click program).
struct PackagePit {
  bool present = false;
  std::string path;
  uint64_t size = 0;
  uint64_t offset = 0;
};

class CDownloadEngine {
 public:
  using Step = bool (CDownloadEngine::*)();

  CDownloadEngine(ReportSink* sink, int port, EngineContext context = {});
  ~CDownloadEngine();
  CDownloadEngine(const CDownloadEngine&) = delete;
  CDownloadEngine& operator=(const CDownloadEngine&) = delete;

  // Copies the run's options, then applies a One Click program's own.
  void CopyOptions(const DownloadOptions& options);
  // Runs the full or the short step table; false at the first failing step.
  bool RunSteps();
  // Closes the download (103/0) when the line is open and gives the port up; the phone stays
  // in download mode. For tools that talk to a phone without flashing it.
  void EndSessionWithoutReboot();

  // Reports. Every event of the engine goes through its report channel.
  void Report(int message, int64_t value, const char* format, ...)
      __attribute__((format(printf, 4, 5)));
  void ReportText(int message, int64_t value, const std::string& text) {
    reports_.ReportText(message, value, text);
  }

  // Steps.
  bool FileAnalysisStep();
  bool SetupConnection();
  bool InitializationStep();
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

  // File analysis: the walks over one package (file mode: slot -1; One Click: the slot).
  using EntryList = std::vector<std::unique_ptr<DownloadEntry>>;
  bool ScanTarPackage(const std::string& path, EntryList& list, int slot);
  bool ScanTarMd5Package(const std::string& path, EntryList& list, int slot);
  bool ScanDeflatedTarPackage(const std::string& path, EntryList& list, int slot);
  // The home-binary filter: keeps only the members the download list names.
  void ApplyDownloadList();
  const std::optional<std::string>& DownloadListText() const { return downloadListText_; }
  const PackagePit& PackagePitInfo() const { return packagePit_; }

  // Partition tables.
  bool LoadPitToUpload(std::vector<uint8_t>* table);
  // Reads the device's partition table in pieces (the line must be open and initialized).
  bool ReadDevicePit(std::vector<uint8_t>* table);
  bool MapPitToEntries(const std::vector<uint8_t>& table);

  // File transmission.
  bool SendPhoneEntry(int fd, const DownloadEntry& entry, CByteStream* stream, int slot);
  bool SendModemEntry(int fd, const DownloadEntry& entry);
  // The end-of-sequence request, after which the boot loader writes the sequence.
  int32_t SendEndOfSequence(const EndOfSequence& end);
  bool SendSlot(int fd, int slot);
  // A One Click member's bytes: inflated for compressed slots, as stored for the others.
  std::unique_ptr<CByteStream> OpenMemberStream(int fd, int slot, const DownloadEntry& entry);
  uint64_t MemberLength(const DownloadEntry& entry, int slot) const;
  // Why `entry` of `slot` cannot be sent to this phone; empty when it can.
  std::string EntryProblem(const DownloadEntry& entry, int slot) const;
  // Verifies the chosen packages' meta-data into MetaDataValid and PackageModel.
  void CheckPackagesMetaData();
  bool VerifyPackageMetaData(int slot);
  bool VerifyOneClickMetaData(int slot);

  // State, readable by the steps of later stages and by tests.
  int Port() const { return port_; }
  const DownloadOptions& Options() const { return options_; }
  bool OneClickMode() const { return oneClickMode_; }
  const OneClickTrailer& Trailer() const { return trailer_; }
  int32_t PacketSize() const { return packets_.PacketSize(); }
  int32_t ProtocolVersion() const { return protocolVersion_; }
  int32_t ResetDelay() const { return resetDelay_; }
  uint64_t SentBytes() const { return packets_.SentBytes(); }
  uint64_t PackageTotal() const { return packageTotal_; }
  std::vector<std::unique_ptr<DownloadEntry>>& FileList(int slot) { return fileLists_[slot]; }
  char* PackageModel() { return packageModel_; }
  bool MetaDataValid() const { return metaDataValid_; }
  CWinRs232cSync& Line() { return line_; }
  const EngineContext& Context() const { return context_; }

  static const std::vector<Step>& FullSequence();
  static const std::vector<Step>& ShortSequence();

 private:
  void DetectOneClick();
  void NegotiatePacketSize();
  bool RunStep(Step step);
  void ExplainLineFailure();
  enum class WalkKind { Tar, TarMd5, Deflated };
  struct Walk;
  bool WalkPackage(const std::string& path, EntryList& list, int slot, WalkKind kind);
  bool WalkKeptOrRead(const std::string& path, EntryList& list, int slot, WalkKind kind);
  bool WalkMembers(Walk& walk);
  bool TakeMember(Walk& walk, const uint8_t* header, uint64_t* next);
  bool RefusePackage(const std::string& path, const std::string& why);
  void CloseOwnExecutable();

  int port_;
  ReportChannel reports_;
  uint64_t packageTotal_ = 0;
  DownloadOptions options_;
  int32_t resetDelay_ = 1;
  EngineContext context_;
  CWinRs232cSync line_;
  PacketLayer packets_{line_, reports_};
  std::array<std::vector<std::unique_ptr<DownloadEntry>>, SLOT_COUNT> fileLists_;
  std::optional<std::string> downloadListText_;  // the last download list read
  std::string downloadListPackage_;              // the package it was read from
  int downloadListSlot_ = -1;                    // its One Click slot; -1 in file mode
  char packageModel_[PACKAGE_MODEL_SIZE] = {};
  bool metaDataValid_ = false;  // nothing verified yet: a device-info check cannot pass
  bool metaDataChecked_ = false;
  OneClickTrailer trailer_;
  UniqueFd ownExecutableFd_;  // open in One Click mode: the packages are read through it
  bool oneClickMode_ = false;
  PackagePit packagePit_;
  // The header blocks the meta-data check of the package being analysed has read: the
  // analysis walk takes them from here instead of reading them again.
  CHeaderBlocks headerBlocks_;
  int32_t protocolVersion_ = 0;
};

}  // namespace mirk3
