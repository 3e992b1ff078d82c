// File analysis, the first step of a full download: every chosen package's tar headers are
// walked (one 512-byte read per member, never the member data) into the slots' lists of
// members to send. On the way the package's partition table, its download list and its
// meta-data verdict are found. Headers that cannot be trusted refuse the package before
// anything reaches a phone.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "base/text.h"
#include "engine/download_engine.h"
#include "engine/string_table.h"
#include "packages/md5_trailer.h"
#include "packages/tar_walk.h"

namespace mirk3 {
namespace {

constexpr int LINE_SCAN_TAR = 333;
constexpr int LINE_SCAN_TAR_MD5 = 599;
constexpr size_t INFLATED_SIZE_OFFSET = 500;
constexpr size_t MAX_FILE_NAME = ENTRY_NAME_SIZE - 1;
// A download list names a few dozen members; anything far larger is not one.
constexpr uint64_t MAX_DOWNLOAD_LIST = 1 << 20;

std::string Upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
  return out;
}

std::string_view LastChars(std::string_view text, size_t n) {
  return text.size() <= n ? text : text.substr(text.size() - n);
}

bool IsMetaDataMember(std::string_view name) {
  return name.find("meta-data/") != std::string_view::npos ||
         name.find("meta-data\\") != std::string_view::npos;
}

bool ReadAt(int fd, void* buffer, size_t count, uint64_t at) {
  auto* bytes = static_cast<uint8_t*>(buffer);
  size_t done = 0;
  while (done < count) {
    const ssize_t n = ::pread(fd, bytes + done, count - done, static_cast<off_t>(at + done));
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

struct CDownloadEngine::Walk {
  int fd;
  std::string path;
  EntryList& list;
  int slot;  // -1 in file mode
  WalkKind kind;
  uint64_t position;
  uint64_t bound;
};

bool CDownloadEngine::FileAnalysisStep() {
  Report(WM_DL_LOG, 0, "File analysis..");
  packageModel_[0] = '\0';
  metaDataValid_ = true;
  metaDataChecked_ = true;
  headerBlocks_.Clear();
  bool any = false;
  for (int slot = 0; slot < SLOT_COUNT; ++slot) {
    EntryList& list = fileLists_[slot];
    if (oneClickMode_) {
      const OneClickSlot& record = trailer_.slots[slot];
      if (!record.Present()) continue;
      any = true;
      if (metaDataValid_ && !VerifyOneClickMetaData(slot)) metaDataValid_ = false;
      const std::string& exe = context_.ownExecutablePath;
      bool walked = false;
      switch (record.type) {
        case ONECLICK_TAR:
          walked = ScanTarPackage(exe, list, slot);
          break;
        case ONECLICK_TAR_MD5:
          walked = ScanTarMd5Package(exe, list, slot);
          break;
        case ONECLICK_TAR_DEFLATED:
          walked = ScanDeflatedTarPackage(exe, list, slot);
          break;
        default:
          return RefusePackage(
              exe, Format("the %s slot has the unknown type %d", SLOT_NAMES[slot], record.type));
      }
      if (!walked) return false;
      options_.slotEnabled[slot] = 1;
      continue;
    }
    if (!options_.slotEnabled[slot]) continue;
    any = true;
    const std::string& path = options_.slotPath[slot];
    const std::string ending = Upper(LastChars(path, 3));
    if (metaDataValid_ && !VerifyPackageMetaData(slot)) metaDataValid_ = false;
    bool walked = false;
    if (ending == "TAR") {
      walked = ScanTarPackage(path, list, -1);
    } else if (ending == "MD5") {
      const std::string stem = path.substr(0, path.rfind('.'));
      walked = ScanTarMd5Package(path, list, Upper(LastChars(stem, 3)) == "TAR" ? -1 : slot);
    } else {
      return false;  // neither a tar nor an MD5 package: no message, as the window expects
    }
    if (!walked) return false;
  }
  if (!any) metaDataValid_ = false;  // nothing verified
  if (downloadListText_) ApplyDownloadList();
  return true;
}

bool CDownloadEngine::ScanTarPackage(const std::string& path, EntryList& list, int slot) {
  return WalkKeptOrRead(path, list, slot, WalkKind::Tar);
}

bool CDownloadEngine::ScanTarMd5Package(const std::string& path, EntryList& list, int slot) {
  return WalkKeptOrRead(path, list, slot, WalkKind::TarMd5);
}

bool CDownloadEngine::ScanDeflatedTarPackage(const std::string& path, EntryList& list, int slot) {
  return WalkKeptOrRead(path, list, slot, WalkKind::Deflated);
}

// The header blocks kept by this package's meta-data check serve this walk only: no other
// package may ever be read from them.
bool CDownloadEngine::WalkKeptOrRead(const std::string& path, EntryList& list, int slot,
                                     WalkKind kind) {
  const bool walked = WalkPackage(path, list, slot, kind);
  headerBlocks_.Clear();
  return walked;
}

bool CDownloadEngine::RefusePackage(const std::string& path, const std::string& why) {
  ReportText(WM_DL_FAIL, FAIL_FILE_OPEN, std::string(PathFileName(path)) + ": " + why);
  return false;
}

bool CDownloadEngine::WalkPackage(const std::string& path, EntryList& list, int slot,
                                  WalkKind kind) {
  if (oneClickMode_) {
    const OneClickSlot& record = trailer_.slots[slot];
    // A slot holds at most what the program holds before its trailer, whatever its record
    // claims: nothing is listed that could not be sent.
    struct stat st {};
    const uint64_t held = ::fstat(ownExecutableFd_, &st) == 0
                              ? static_cast<uint64_t>(st.st_size) - ONECLICK_TRAILER_SIZE
                              : 0;
    const uint64_t end = static_cast<uint64_t>(record.offset) + record.length;
    Walk walk{ownExecutableFd_, path, list, slot, kind, record.offset, std::min(end, held)};
    return WalkMembers(walk);
  }
  // Never waits: a pipe or a device named like a package is refused, not read.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    if (fd >= 0) ::close(fd);
    Report(WM_DL_FAIL, FAIL_FILE_OPEN, "%s (Line: %d)", LoadString(IDS_FILE_OPEN_FAILED),
           kind == WalkKind::Tar ? LINE_SCAN_TAR : LINE_SCAN_TAR_MD5);
    return false;
  }
  uint64_t bound = static_cast<uint64_t>(st.st_size);
  bool ok = true;
  if (kind == WalkKind::TarMd5 && slot >= 0) {
    bound = 0;  // an MD5 package that is not a tar (".bin.md5"): nothing to collect
  } else if (kind == WalkKind::TarMd5) {
    const auto tarLength = Md5TarLength(bound, PathFileName(path).size());
    if (!tarLength) ok = RefusePackage(path, "the file is shorter than its MD5 trailer");
    bound = tarLength.value_or(0);
  }
  if (ok) {
    Walk walk{fd, path, list, -1, kind, 0, bound};
    ok = WalkMembers(walk);
  }
  ::close(fd);
  return ok;
}

bool CDownloadEngine::WalkMembers(Walk& walk) {
  while (walk.position < walk.bound) {
    uint8_t header[TAR_BLOCK_SIZE];
    // A truncated archive ends where its last whole header ends.
    if (walk.bound - walk.position < TAR_BLOCK_SIZE ||
        (!headerBlocks_.Find(walk.position, header) &&
         !ReadAt(walk.fd, header, sizeof header, walk.position))) {
      break;
    }
    if (header[0] == 0) break;  // end of archive
    uint64_t next = 0;
    if (!TakeMember(walk, header, &next)) return false;
    walk.position = next;
  }
  return true;
}

bool CDownloadEngine::TakeMember(Walk& walk, const uint8_t* header, uint64_t* next) {
  const std::string name(FieldText(reinterpret_cast<const char*>(header), TAR_NAME_SIZE));
  const auto sizeField =
      std::string_view(reinterpret_cast<const char*>(header) + TAR_SIZE_OFFSET, TAR_SIZE_FIELD);
  const auto size = ParseTarOctal(sizeField);
  if (!size) return RefusePackage(walk.path, "the member " + name + " has a damaged size field");
  const uint64_t dataOffset = walk.position + TAR_BLOCK_SIZE;
  *next = dataOffset + TarPaddedSize(*size);
  // Every byte a member is sent or read from must be in the package.
  const bool inside = *size <= walk.bound - dataOffset;

  if (IsMetaDataMember(name)) {
    if (LastChars(name, 17) != "download-list.txt") return true;
    if (!inside || *size > MAX_DOWNLOAD_LIST) {
      return RefusePackage(walk.path, "the download list " + name + " is damaged");
    }
    std::string text(static_cast<size_t>(*size), '\0');
    if (!ReadAt(walk.fd, text.data(), text.size(), dataOffset)) {
      return RefusePackage(walk.path, "the download list " + name + " cannot be read");
    }
    downloadListText_ = std::move(text);
    return true;
  }
  if (!inside) return RefusePackage(walk.path, "the member " + name + " runs past its end");
  if (Upper(LastChars(name, 3)) == "PIT") {
    if (*size > UINT32_MAX) return RefusePackage(walk.path, "the table " + name + " is too large");
    packagePit_ = PackagePit{true, walk.path, *size, dataOffset};
    options_.RePartition = 1;
    if (oneClickMode_) {
      trailer_.pitOffset = static_cast<uint32_t>(dataOffset);
      trailer_.pitSize = static_cast<uint32_t>(*size);
    }
    return true;
  }
  // A cut name could match another partition's file: such a package is not flashed.
  if (name.size() > MAX_FILE_NAME) {
    return RefusePackage(walk.path, "the member name " + name + " is longer than 31 characters");
  }
  auto entry = std::make_unique<DownloadEntry>();
  entry->dataOffset = dataOffset;
  entry->size = *size;
  CopyToField(entry->fileName, sizeof entry->fileName, name);
  if (walk.kind == WalkKind::Deflated) {
    const auto inflated = ParseTarOctal(std::string_view(
        reinterpret_cast<const char*>(header) + INFLATED_SIZE_OFFSET, TAR_SIZE_FIELD));
    if (!inflated) return RefusePackage(walk.path, "the member " + name + " has no inflated size");
    entry->inflatedSize = *inflated;
  }
  packageTotal_ += walk.kind == WalkKind::Deflated ? entry->inflatedSize : entry->size;
  if (!oneClickMode_ && EqualsIgnoreCase(name, "UFS_Header.bin")) {
    Report(WM_DL_LOG, 0, "Ignore UFS_Header.bin");
    return true;
  }
  walk.list.push_back(std::move(entry));
  return true;
}

}  // namespace mirk3
