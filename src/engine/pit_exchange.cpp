// Partition tables: the upload of a new table when re-partitioning, and the read of the
// device's own table whose entries say where each package member belongs.
#include "base/file.h"
#include "base/text.h"
#include "engine/download_engine.h"
#include "engine/pit_file.h"
#include "engine/string_table.h"
#include "wire/pit_record.h"

namespace mirk3 {
namespace {

constexpr int LINE_PACKAGE_PIT = 1813;
constexpr int LINE_OPERATOR_PIT = 1831;

// Where the table to upload lies: a region of the One Click program or of a package, or the
// whole of the operator's PIT file.
struct PitRegion {
  std::string path;              // named in log lines
  int line = LINE_OPERATOR_PIT;  // tells the sources apart in "Can't open the specified file."
  // Opened for this upload; the One Click program's own stays open anyway.
  Result<OpenedFile> file = OpenedFile{};
  uint64_t offset = 0;
  uint64_t size = 0;
};

// A package's PIT member, else the operator's file. Neither is opened unless it is a regular
// file: a FIFO or a device would block the step with the phone waiting mid-session.
PitRegion OpenPitFile(const PackagePit& packagePit, const std::string& pitPath) {
  PitRegion region;
  region.path = packagePit.present ? packagePit.path : pitPath;
  region.file = OpenRegularFile(region.path);
  if (packagePit.present) {
    region.line = LINE_PACKAGE_PIT;
    region.offset = packagePit.offset;
    region.size = packagePit.size;
  } else {
    region.size = region.file ? region.file->size : 0;
  }
  return region;
}

// The system's failure report, then one log line that says which file and why. A path too long
// to leave room for the reason in one report gives way to its file name.
bool RefusePit(ReportChannel& reports, int64_t code, const std::string& failure,
               const std::string& path, const std::string& reason) {
  reports.Fail(code, failure);
  std::string line = DescribeFileProblem(path.empty() ? "PIT file" : path, reason);
  if (line.size() > REPORT_TEXT_CHARS) {
    line = DescribeFileProblem(path.substr(path.rfind('/') + 1), reason);
  }
  reports.Note(line);
  return false;
}

}  // namespace

// The table to upload: the One Click program's, a package's, or the operator's PIT file. It is
// proven a table before the device hears of it: a wrong file would wipe the device's own.
bool CDownloadEngine::LoadPitToUpload(const PackagePit& packagePit, std::vector<uint8_t>* table) {
  PitRegion region;
  int fd = ownExecutableFd_.Get();
  if (oneClickMode_) {
    // A table one of the carried packages holds wins over the one the trailer names.
    region.path = context_.ownExecutablePath;
    region.line = LINE_PACKAGE_PIT;
    region.offset = packagePit.present ? packagePit.offset : trailer_.pitOffset;
    region.size = packagePit.present ? packagePit.size : trailer_.pitSize;
  } else {
    region = OpenPitFile(packagePit, options_.pitPath);
    if (region.file) fd = region.file->fd.Get();
  }
  const std::string cannotOpen =
      Format("%s (Line: %d)", LoadString(IDS_FILE_OPEN_FAILED), region.line);
  if (!oneClickMode_ && !region.file) {
    return RefusePit(reports_, FAIL_FILE_OPEN, cannotOpen, region.path, region.file.error().text);
  }
  PitFileRead read = ReadPitTableAt(fd, region.offset, region.size);
  switch (read.outcome) {
    case PitFileRead::Outcome::Table:
      *table = std::move(read.bytes);
      return true;
    case PitFileRead::Outcome::NotATable:
      return RefusePit(reports_, FAIL_REPARTITION, LoadString(IDS_REPARTITION_FAILED), region.path,
                       read.problem);
    case PitFileRead::Outcome::Unreadable:
      break;
  }
  return RefusePit(reports_, FAIL_FILE_OPEN, cannotOpen, region.path, read.problem);
}

bool CDownloadEngine::SetPartitionStep(const DownloadPlan& plan) {
  if (!plan.rePartition) return true;
  reports_.ShowProgress(0, "Set Partition");
  reports_.Notef("Set PIT file..");
  reports_.Notef("DO NOT TURN OFF TARGET!!");
  std::vector<uint8_t> table;
  if (!LoadPitToUpload(plan.packagePit, &table)) return false;
  const auto size = static_cast<int32_t>(table.size());
  if (packets_.SendRequest(RQT_PIT, RQT_PIT_SET) == REQUEST_FAILED ||
      packets_.SendRequest(RQT_PIT, RQT_PIT_XMIT, {size}) == REQUEST_FAILED) {
    reports_.Fail(FAIL_REQUEST, LoadString(IDS_WRITE_COMPLETION_FAILED));
    return false;
  }
  // A failed transfer closes the line, so the end request below fails and says so.
  packets_.XmitData(table.data(), size);
  if (packets_.SendRequest(RQT_PIT, RQT_PIT_END, {size}) == REQUEST_FAILED) {
    reports_.Fail(FAIL_REPARTITION, LoadString(IDS_REPARTITION_FAILED));
    return false;
  }
  return true;
}

bool CDownloadEngine::GetPitStep(const DownloadPlan& plan) {
  reports_.Notef("Get PIT for mapping..");
  std::vector<uint8_t> table;
  // Every member is checked right after the device's table is mapped, so a phone is refused
  // before its first byte is written, never in the middle.
  const ChosenPackages packages = Packages();
  return ReadDevicePit(&table) && MapPitToEntries(plan, table) &&
         MemberSender(packets_, reports_, packages).CheckSendable(placed_);
}

bool CDownloadEngine::ReadDevicePit(std::vector<uint8_t>* table) {
  const int32_t size = packets_.SendRequest(RQT_PIT, RQT_PIT_GET);
  if (size == REQUEST_FAILED) {
    reports_.Fail(FAIL_NO_PIT, LoadString(IDS_NO_PIT_PARTITION));
    return false;
  }
  // A table without room for its own header, or larger than any real one, cannot be mapped.
  if (size < PIT_HEADER_SIZE || static_cast<uint64_t>(size) > MAX_PIT_SIZE) {
    reports_.Notef("The device's partition table has a size of %d bytes", size);
    reports_.Fail(FAIL_NO_PIT, LoadString(IDS_NO_PIT_PARTITION));
    return false;
  }
  table->assign(static_cast<size_t>(size), 0);
  return packets_.ReadPieces(RQT_PIT, RQT_PIT_XMIT, RQT_PIT_END, table);
}

// The plan's members, each with the fields of the partition whose file name it bears.
bool CDownloadEngine::MapPitToEntries(const DownloadPlan& plan, const std::vector<uint8_t>& bytes) {
  const PitTable table = ParsePitTable(bytes.data(), bytes.size());
  // A table that claims more entries than it holds is damaged: no member is mapped from it.
  if (table.header.EntryCount() > static_cast<int32_t>(table.entries.size())) {
    reports_.Notef("The device's partition table claims %d entries but holds %d",
           table.header.EntryCount(), static_cast<int>(table.entries.size()));
    reports_.Fail(FAIL_NO_PIT, LoadString(IDS_NO_PIT_PARTITION));
    return false;
  }
  for (int slot = 0; slot < SLOT_COUNT; ++slot) {
    placed_[slot].clear();
    for (const auto& member : plan.slots[slot].members) placed_[slot].push_back(*member);
  }
  for (const PitEntry& partition : table.entries) {
    for (auto& list : placed_) {
      for (auto& entry : list) {
        if (entry.Matched() || !EqualsIgnoreCase(FieldText(entry.fileName, sizeof entry.fileName),
                                                 partition.FileName())) {
          continue;
        }
        entry.entryKind = partition.entryKind;
        entry.storageKind = partition.storageKind;
        entry.partitionId = partition.partitionId;
        entry.attributes = partition.attributes;
        entry.blockParam = partition.blockParam;
        entry.word6 = partition.word6;
        CopyToField(entry.partitionName, sizeof entry.partitionName, partition.PartitionName());
        CopyToField(entry.auxName, sizeof entry.auxName, partition.AuxName());
        break;  // one member per slot for each partition
      }
    }
  }
  return true;
}

}  // namespace mirk3
