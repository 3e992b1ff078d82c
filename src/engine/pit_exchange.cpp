// Partition tables: the upload of a new table when re-partitioning, and the read of the
// device's own table whose entries say where each package member belongs.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/text.h"
#include "engine/download_engine.h"
#include "engine/pit.h"
#include "engine/string_table.h"

namespace mirk3 {
namespace {

constexpr int LINE_PACKAGE_PIT = 1813;
constexpr int LINE_OPERATOR_PIT = 1831;
// Partition tables are a few KiB; no device or file holds one anywhere near this size.
constexpr uint64_t MAX_PIT_SIZE = 16u << 20;

bool ReadRegion(int fd, uint64_t offset, uint64_t size, std::vector<uint8_t>* bytes) {
  bytes->assign(static_cast<size_t>(size), 0);
  size_t done = 0;
  while (done < bytes->size()) {
    const ssize_t n =
        ::pread(fd, bytes->data() + done, bytes->size() - done, static_cast<off_t>(offset + done));
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

// The table to upload: the One Click program's, a package's, or the operator's PIT file.
bool CDownloadEngine::LoadPitToUpload(std::vector<uint8_t>* table) {
  if (oneClickMode_) {
    if (ReadRegion(ownExecutableFd_, trailer_.pitOffset, trailer_.pitSize, table)) return true;
    Report(WM_DL_FAIL, FAIL_FILE_OPEN, "%s (Line: %d)", LoadString(IDS_FILE_OPEN_FAILED),
           LINE_PACKAGE_PIT);
    return false;
  }
  const bool fromPackage = packagePit_.present;
  const std::string& path = fromPackage ? packagePit_.path : options_.pitPath;
  const int line = fromPackage ? LINE_PACKAGE_PIT : LINE_OPERATOR_PIT;
  const int fd = path.empty() ? -1 : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st {};
  bool ok = fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  const uint64_t offset = fromPackage ? packagePit_.offset : 0;
  const uint64_t size = fromPackage ? packagePit_.size : static_cast<uint64_t>(st.st_size);
  if (ok && size > MAX_PIT_SIZE) {
    if (fd >= 0) ::close(fd);
    Report(WM_DL_FAIL, FAIL_FILE_OPEN, "%s: the partition table is too large",
           std::string(path).c_str());
    return false;
  }
  ok = ok && ReadRegion(fd, offset, size, table);
  if (fd >= 0) ::close(fd);
  if (!ok) {
    Report(WM_DL_FAIL, FAIL_FILE_OPEN, "%s (Line: %d)", LoadString(IDS_FILE_OPEN_FAILED), line);
  }
  return ok;
}

bool CDownloadEngine::SetPartitionStep() {
  if (!options_.RePartition) return true;
  ReportText(WM_DL_PROGRESS, 0, "Set Partition");
  Report(WM_DL_LOG, 0, "Set PIT file..");
  Report(WM_DL_LOG, 0, "DO NOT TURN OFF TARGET!!");
  std::vector<uint8_t> table;
  if (!LoadPitToUpload(&table)) return false;
  const auto size = static_cast<int32_t>(table.size());
  if (SendRequest(RQT_PIT, RQT_PIT_SET) == REQUEST_FAILED ||
      SendRequest(RQT_PIT, RQT_PIT_XMIT, {size}) == REQUEST_FAILED) {
    ReportText(WM_DL_FAIL, FAIL_REQUEST, LoadString(IDS_WRITE_COMPLETION_FAILED));
    return false;
  }
  // A failed transfer closes the line, so the end request below fails and says so.
  XmitData(table.data(), size);
  if (SendRequest(RQT_PIT, RQT_PIT_END, {size}) == REQUEST_FAILED) {
    ReportText(WM_DL_FAIL, FAIL_REPARTITION, LoadString(IDS_REPARTITION_FAILED));
    return false;
  }
  return true;
}

bool CDownloadEngine::GetPitStep() {
  Report(WM_DL_LOG, 0, "Get PIT for mapping..");
  std::vector<uint8_t> table;
  return ReadDevicePit(&table) && MapPitToEntries(table) && CheckEntriesSendable();
}

bool CDownloadEngine::ReadDevicePit(std::vector<uint8_t>* table) {
  const int32_t size = SendRequest(RQT_PIT, RQT_PIT_GET);
  if (size == REQUEST_FAILED) {
    ReportText(WM_DL_FAIL, FAIL_NO_PIT, LoadString(IDS_NO_PIT_PARTITION));
    return false;
  }
  // A table without room for its own header, or larger than any real one, cannot be mapped.
  if (size < PIT_HEADER_SIZE || static_cast<uint64_t>(size) > MAX_PIT_SIZE) {
    Report(WM_DL_LOG, 0, "The device's partition table has a size of %d bytes", size);
    ReportText(WM_DL_FAIL, FAIL_NO_PIT, LoadString(IDS_NO_PIT_PARTITION));
    return false;
  }
  table->assign(static_cast<size_t>(size), 0);
  for (int32_t piece = 0; piece <= (size - 1) / PIECE_SIZE; ++piece) {
    const int32_t at = piece * PIECE_SIZE;
    if (SendRequest(RQT_PIT, RQT_PIT_XMIT, {piece}, false) == REQUEST_FAILED ||
        !line_.ReadData(&(*table)[static_cast<size_t>(at)], std::min(PIECE_SIZE, size - at),
                        nullptr, pace_)) {
      ReportText(WM_DL_FAIL, FAIL_REQUEST, LoadString(IDS_WRITE_COMPLETION_FAILED));
      return false;
    }
  }
  if (SendRequest(RQT_PIT, RQT_PIT_END) == REQUEST_FAILED) {
    ReportText(WM_DL_FAIL, FAIL_REQUEST, LoadString(IDS_WRITE_COMPLETION_FAILED));
    return false;
  }
  return true;
}

bool CDownloadEngine::MapPitToEntries(const std::vector<uint8_t>& bytes) {
  const PitTable table = ParsePitTable(bytes.data(), bytes.size());
  // A table that claims more entries than it holds is damaged: no member is mapped from it.
  if (table.header.EntryCount() > static_cast<int32_t>(table.entries.size())) {
    Report(WM_DL_LOG, 0, "The device's partition table claims %d entries but holds %d",
           table.header.EntryCount(), static_cast<int>(table.entries.size()));
    ReportText(WM_DL_FAIL, FAIL_NO_PIT, LoadString(IDS_NO_PIT_PARTITION));
    return false;
  }
  for (const PitEntry& partition : table.entries) {
    for (auto& list : fileLists_) {
      for (auto& entry : list) {
        if (entry->Matched() ||
            !EqualsIgnoreCase(FieldText(entry->fileName, sizeof entry->fileName),
                              partition.FileName())) {
          continue;
        }
        entry->entryKind = partition.entryKind;
        entry->storageKind = partition.storageKind;
        entry->partitionId = partition.partitionId;
        entry->attributes = partition.attributes;
        entry->blockParam = partition.blockParam;
        entry->word6 = partition.word6;
        CopyToField(entry->partitionName, sizeof entry->partitionName, partition.PartitionName());
        CopyToField(entry->auxName, sizeof entry->auxName, partition.AuxName());
        break;  // one member per slot for each partition
      }
    }
  }
  return true;
}

}  // namespace mirk3
