// File analysis, the first step of a full download: every chosen package's tar headers are
// walked (one 512-byte read per member, never the member data) into the slots' lists of
// members to send. On the way the package's partition table, its download list and its
// meta-data verdict are found. Headers that cannot be trusted, archives cut short and entries
// whose names or sizes the station cannot read refuse the package before anything reaches a
// phone; entries that are not regular files (directories, links, pax headers that set only
// times and owners) are passed over with a log line.
//
// An analysis is made for one run over one download's packages: it logs and fails through the
// engine's report channel, and returns everything it found as a DownloadPlan. The options,
// program, context and channel it is given must outlive it.
#pragma once

#include <string>

#include "engine/chosen_packages.h"
#include "engine/download_plan.h"
#include "engine/engine_context.h"
#include "engine/meta_data_check.h"
#include "engine/report_channel.h"
#include "packages/byte_source.h"
#include "packages/tar_walk.h"

namespace mirk3 {

class FileAnalyser {
 public:
  FileAnalyser(const ChosenPackages& packages, const EngineContext& context,
               ReportChannel& reports);

  // Logs "File analysis..", checks and walks every chosen package in slot order, stopping at
  // the first that is refused, and applies the download list.
  DownloadPlan Run();

  // The walks over one package into `list`: `path` is the package file (slot -1) or, in One
  // Click mode, the program, of which `slot` is read. False, with the failure reported, when
  // the package is refused.
  bool ScanTarPackage(const std::string& path, EntryList& list, int slot);
  bool ScanTarMd5Package(const std::string& path, EntryList& list, int slot);
  bool ScanDeflatedTarPackage(const std::string& path, EntryList& list, int slot);

 private:
  enum class WalkKind { Tar, TarMd5, Deflated };
  struct Walk;

  void DescribeSlots();
  bool AnalyseSlot(int slot);
  bool AnalyseCarriedSlot(int slot);
  bool AnalysePackageFile(int slot);
  bool WalkKeptOrRead(const std::string& path, EntryList& list, int slot, WalkKind kind);
  bool WalkPackage(const std::string& path, EntryList& list, int slot, WalkKind kind);
  bool WalkMembers(const ByteSource& source, const Walk& walk);
  bool TakeMember(const ByteSource& source, const Walk& walk, const TarMember& member);
  bool TakeDownloadList(const ByteSource& source, const Walk& walk, const TarMember& member);
  bool ApplyDownloadList();
  bool Refuse(const std::string& path, const std::string& why);
  bool Fail(int64_t code, const std::string& text);

  const ChosenPackages packages_;
  ReportChannel& reports_;
  MetaDataVerdict metaData_;
  // The header blocks the meta-data check of the package being analysed has read: its walk
  // takes them from here instead of reading them again.
  HeaderBlocks headerBlocks_;
  DownloadPlan found_;
};

}  // namespace mirk3
