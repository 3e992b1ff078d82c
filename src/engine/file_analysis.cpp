// File analysis, the first step of a full download: every chosen package's tar headers are
// walked (one 512-byte read per member, never the member data) into the slots' lists of
// members to send. On the way the package's partition table, its download list and its
// meta-data verdict are found. Headers that cannot be trusted, archives cut short and entries
// whose names or sizes the station cannot read refuse the package before anything reaches a
// phone; entries that are not regular files (directories, links, pax headers that set only
// times and owners) are passed over with a log line.
#include <sys/stat.h>

#include <algorithm>
#include <cstring>

#include "base/file.h"
#include "base/text.h"
#include "engine/download_engine.h"
#include "engine/string_table.h"
#include "packages/md5_trailer.h"
#include "packages/package_meta_data.h"
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

unsigned long long Offset(uint64_t at) { return static_cast<unsigned long long>(at); }

// A One Click program carries several packages: a refusal names the slot as well.
std::string InSlot(int slot) {
  return slot >= 0 && slot < SLOT_COUNT ? std::string(SLOT_NAMES[slot]) + " slot: " : "";
}

size_t MembersToSend(const std::array<CDownloadEngine::EntryList, SLOT_COUNT>& lists,
                     const DownloadOptions& options) {
  size_t count = 0;
  for (int slot = 0; slot < SLOT_COUNT; ++slot) {
    if (options.slotEnabled[slot]) count += lists[slot].size();
  }
  return count;
}

// Why a download list kept nothing, as far as its bytes tell.
std::string EmptyListReason(const std::string& stored) {
  if (stored.empty()) return "the list is empty";
  const size_t zero = stored.find('\0');
  if (zero != std::string::npos) {
    return Format("the list is cut at the zero byte at %zu: saved as UTF-16?", zero);
  }
  if (stored.find_first_not_of("\r\n") == std::string::npos) return "the list names nothing";
  return "it names no member of the chosen packages";
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
      // The phone is refused: a failed phone always says why.
      return RefusePackage(path, "neither a .tar nor a .md5 package");
    }
    if (!walked) return false;
  }
  if (!any) metaDataValid_ = false;  // nothing verified
  if (downloadListText_) {
    // A list that keeps nothing of what the packages hold would make a run that writes nothing
    // and passes; a list that empties some slots only is what a home binary is for.
    const size_t held = MembersToSend(fileLists_, options_);
    ApplyDownloadList();
    if (held != 0 && MembersToSend(fileLists_, options_) == 0) {
      return RefusePackage(downloadListPackage_, InSlot(downloadListSlot_) +
                                                     "its download list leaves nothing to send (" +
                                                     EmptyListReason(*downloadListText_) + ")");
    }
  }
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
    // A slot is read within its own bytes, which must lie before the program's trailer.
    struct stat st {};
    if (::fstat(ownExecutableFd_.Get(), &st) != 0) return RefusePackage(path, "cannot be read");
    std::string problem;
    const auto range = OneClickSlotTar(trailer_, slot, static_cast<uint64_t>(st.st_size), &problem);
    if (!range) return RefusePackage(path, problem);
    Walk walk{ownExecutableFd_.Get(), path, list, slot, kind, range->begin, range->end};
    return WalkMembers(walk);
  }
  if (slot < -1 || slot >= SLOT_COUNT) {
    return RefusePackage(path, Format("there is no slot %d", slot));
  }
  // Never waits: a pipe or a device named like a package is refused, not read.
  OpenedFile file = OpenRegularFile(path);
  if (!file) {
    Report(WM_DL_FAIL, FAIL_FILE_OPEN, "%s (Line: %d)", LoadString(IDS_FILE_OPEN_FAILED),
           kind == WalkKind::Tar ? LINE_SCAN_TAR : LINE_SCAN_TAR_MD5);
    ReportText(WM_DL_LOG, 0, DescribeFileProblem(path, file.error));
    return false;
  }
  uint64_t bound = file.size;
  if (kind == WalkKind::TarMd5 && slot >= 0) {
    bound = 0;  // an MD5 package that is not a tar (".bin.md5"): nothing to collect
  } else if (kind == WalkKind::TarMd5) {
    const auto tarLength = Md5TarLength(bound, PathFileName(path).size());
    if (!tarLength) return RefusePackage(path, "the file is shorter than its MD5 trailer");
    bound = *tarLength;
  }
  Walk walk{file.fd.Get(), path, list, -1, kind, 0, bound};
  return WalkMembers(walk);
}

bool CDownloadEngine::WalkMembers(Walk& walk) {
  while (walk.position < walk.bound) {
    // A package cut short is refused: the members after the cut would silently not be sent.
    if (walk.bound - walk.position < TAR_BLOCK_SIZE) {
      return RefusePackage(walk.path,
                           InSlot(walk.slot) + Format("the package ends inside the tar header at "
                                                      "offset %llu",
                                                      Offset(walk.position)));
    }
    uint8_t header[TAR_BLOCK_SIZE];
    if (!headerBlocks_.Find(walk.position, header) &&
        !ReadExactAt(walk.fd, header, sizeof header, walk.position)) {
      return RefusePackage(
          walk.path, InSlot(walk.slot) + Format("the tar header at offset %llu cannot be read",
                                                Offset(walk.position)));
    }
    if (header[0] == 0) break;  // end of archive
    uint64_t next = 0;
    if (!TakeMember(walk, header, &next)) return false;
    walk.position = next;
  }
  return true;
}

bool CDownloadEngine::TakeMember(Walk& walk, const uint8_t* header, uint64_t* next) {
  const auto refuse = [&](const std::string& why) {
    return RefusePackage(walk.path, InSlot(walk.slot) + why);
  };
  const std::string name(FieldText(reinterpret_cast<const char*>(header), TAR_NAME_SIZE));
  const auto sizeField =
      std::string_view(reinterpret_cast<const char*>(header) + TAR_SIZE_OFFSET, TAR_SIZE_FIELD);
  const auto size = ParseTarOctal(sizeField);
  if (!size) return refuse("the member " + name + " has a damaged size field");
  const uint64_t dataOffset = walk.position + TAR_BLOCK_SIZE;
  // Every entry lies whole in the package, padding included: one that does not is the sign
  // of a package cut short. (Sizes are below 2^36: the sum cannot overflow.)
  if (TarPaddedSize(*size) > walk.bound - dataOffset) {
    return refuse(Format("the member %s at offset %llu runs past its end", name.c_str(),
                         Offset(walk.position)));
  }
  *next = dataOffset + TarPaddedSize(*size);

  // Only regular files are members; the meta-data check classifies entries the same way.
  const TarEntryClass entry = ClassifyTarEntry(header, name);
  switch (entry.kind) {
    case TarEntryKind::FILE:
      break;
    case TarEntryKind::REFUSED:
      return refuse("the member " + name + " " + entry.what);
    case TarEntryKind::SKIPPED:
      ReportText(WM_DL_LOG, 0, "Skip " + entry.what + " " + name);
      return true;
    case TarEntryKind::PAX: {
      if (*size > TAR_PAX_HEADER_LIMIT) {
        return refuse("the " + entry.what + " " + name + " is too large to check");
      }
      std::string records(static_cast<size_t>(*size), '\0');
      if (!ReadExactAt(walk.fd, records.data(), records.size(), dataOffset)) {
        return refuse("the " + entry.what + " " + name + " cannot be read");
      }
      const std::string problem = TarPaxProblem(records);
      if (!problem.empty()) return refuse("the " + entry.what + " " + name + " " + problem);
      ReportText(WM_DL_LOG, 0, "Skip " + entry.what + " " + name);
      return true;
    }
  }

  if (IsMetaDataMember(name)) {
    if (LastChars(name, 17) != "download-list.txt") return true;
    if (*size > MAX_DOWNLOAD_LIST) {
      return refuse("the download list " + name + " is damaged");
    }
    std::string text(static_cast<size_t>(*size), '\0');
    if (!ReadExactAt(walk.fd, text.data(), text.size(), dataOffset)) {
      return refuse("the download list " + name + " cannot be read");
    }
    downloadListText_ = std::move(text);
    downloadListPackage_ = walk.path;
    downloadListSlot_ = walk.slot;
    return true;
  }
  if (Upper(LastChars(name, 3)) == "PIT") {
    if (*size > UINT32_MAX) return refuse("the table " + name + " is too large");
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
    return refuse("the member name " + name + " is longer than 31 characters");
  }
  auto member = std::make_unique<DownloadEntry>();
  member->dataOffset = dataOffset;
  member->size = *size;
  CopyToField(member->fileName, sizeof member->fileName, name);
  if (walk.kind == WalkKind::Deflated) {
    const auto inflated = ParseTarOctal(std::string_view(
        reinterpret_cast<const char*>(header) + INFLATED_SIZE_OFFSET, TAR_SIZE_FIELD));
    if (!inflated) return refuse("the member " + name + " has no inflated size");
    member->inflatedSize = *inflated;
  }
  packageTotal_ += walk.kind == WalkKind::Deflated ? member->inflatedSize : member->size;
  if (!oneClickMode_ && EqualsIgnoreCase(name, "UFS_Header.bin")) {
    Report(WM_DL_LOG, 0, "Ignore UFS_Header.bin");
    return true;
  }
  walk.list.push_back(std::move(member));
  return true;
}

}  // namespace mirk3
