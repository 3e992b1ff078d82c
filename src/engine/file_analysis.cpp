#include "engine/file_analysis.h"

#include <sys/stat.h>

#include <utility>

#include "base/file.h"
#include "base/text.h"
#include "engine/download_list.h"
#include "engine/string_table.h"
#include "packages/md5_trailer.h"
#include "packages/meta_data_verifier.h"
#include "packages/package_meta_data.h"

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

// A One Click program carries several packages: a refusal names the slot as well.
std::string InSlot(int slot) {
  return slot >= 0 && slot < SLOT_COUNT ? std::string(SLOT_NAMES[slot]) + " slot: " : "";
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

// The package or program file the analysis has open, read where the walk asks.
class OpenFileSource final : public ByteSource {
 public:
  OpenFileSource(BorrowedFd fd, uint64_t length) : fd_(fd), length_(length) {}
  uint64_t Length() const override { return length_; }
  size_t ReadAt(uint64_t position, void* out, size_t length) const override {
    const ssize_t got = ReadFullyAt(fd_.Get(), out, length, position);
    return got < 0 ? 0 : static_cast<size_t>(got);
  }

 private:
  BorrowedFd fd_;
  uint64_t length_;
};

}  // namespace

struct FileAnalyser::Walk {
  const std::string& path;
  EntryList& list;
  int slot;  // -1 in file mode
  WalkKind kind;
  uint64_t begin;
  uint64_t end;
};

FileAnalyser::FileAnalyser(const ChosenPackages& packages, const EngineContext& context,
                           ReportChannel& reports)
    : packages_(packages), reports_(reports), metaData_(packages, context) {}

DownloadPlan FileAnalyser::Run() {
  reports_.Notef("File analysis..");
  DescribeSlots();
  for (int slot = 0; slot < SLOT_COUNT; ++slot) {
    if (packages_.Chosen(slot) && !AnalyseSlot(slot)) break;  // later slots are not read
  }
  if (found_.Passed() && found_.downloadList) ApplyDownloadList();
  found_.metaDataValid = metaData_.Valid();
  found_.metaDataWhy = metaData_.Why();
  found_.packageModel = metaData_.Model();
  return std::move(found_);
}

void FileAnalyser::DescribeSlots() {
  found_.analysed = true;
  found_.oneClick = packages_.OneClick();
  if (found_.oneClick) found_.program = packages_.program;
  found_.rePartition = packages_.options.RePartition != 0;
  for (int slot = 0; slot < SLOT_COUNT; ++slot) {
    AnalysedSlot& described = found_.slots[slot];
    described.chosen = packages_.Chosen(slot);
    described.package = packages_.Package(slot);
    if (packages_.trailer) described.carried = packages_.trailer->slots[slot];
  }
}

// The package's meta-data is checked before it is walked; a package that does not verify is
// still walked, and its verdict is for the device-info check to act on.
bool FileAnalyser::AnalyseSlot(int slot) {
  headerBlocks_.Clear();
  metaData_.Check(slot, &headerBlocks_);
  return packages_.OneClick() ? AnalyseCarriedSlot(slot) : AnalysePackageFile(slot);
}

bool FileAnalyser::AnalyseCarriedSlot(int slot) {
  EntryList& list = found_.slots[slot].members;
  const std::string& program = packages_.program;
  const int16_t type = packages_.trailer->slots[slot].type;
  switch (type) {
    case ONECLICK_TAR:
      return ScanTarPackage(program, list, slot);
    case ONECLICK_TAR_MD5:
      return ScanTarMd5Package(program, list, slot);
    case ONECLICK_TAR_DEFLATED:
      return ScanDeflatedTarPackage(program, list, slot);
    default:
      return Refuse(program, Format("the %s slot has the unknown type %d", SLOT_NAMES[slot], type));
  }
}

// The walk follows the package's name: a tar, or a ".tar.md5" whose trailer is left out. An MD5
// package that is not a tar (".bin.md5") is opened, and nothing in it is sent.
bool FileAnalyser::AnalysePackageFile(int slot) {
  EntryList& list = found_.slots[slot].members;
  const std::string& path = packages_.Package(slot);
  const std::string ending = Upper(LastChars(path, 3));
  if (ending == "TAR") return ScanTarPackage(path, list, -1);
  if (ending == "MD5") {
    const std::string stem = path.substr(0, path.rfind('.'));
    return ScanTarMd5Package(path, list, Upper(LastChars(stem, 3)) == "TAR" ? -1 : slot);
  }
  // The phone is refused: a failed phone always says why.
  return Refuse(path, "neither a .tar nor a .md5 package");
}

bool FileAnalyser::ScanTarPackage(const std::string& path, EntryList& list, int slot) {
  return WalkKeptOrRead(path, list, slot, WalkKind::Tar);
}

bool FileAnalyser::ScanTarMd5Package(const std::string& path, EntryList& list, int slot) {
  return WalkKeptOrRead(path, list, slot, WalkKind::TarMd5);
}

bool FileAnalyser::ScanDeflatedTarPackage(const std::string& path, EntryList& list, int slot) {
  return WalkKeptOrRead(path, list, slot, WalkKind::Deflated);
}

// The header blocks kept by this package's meta-data check serve this walk only: no other
// package may ever be read from them.
bool FileAnalyser::WalkKeptOrRead(const std::string& path, EntryList& list, int slot,
                                  WalkKind kind) {
  const bool walked = WalkPackage(path, list, slot, kind);
  headerBlocks_.Clear();
  return walked;
}

bool FileAnalyser::WalkPackage(const std::string& path, EntryList& list, int slot, WalkKind kind) {
  if (packages_.OneClick()) {
    // A slot is read within its own bytes, which must lie before the program's trailer.
    struct stat st {};
    if (::fstat(packages_.programFd.Get(), &st) != 0) return Refuse(path, "cannot be read");
    const auto length = static_cast<uint64_t>(st.st_size);
    std::string problem;
    const auto range = OneClickSlotTar(*packages_.trailer, slot, length, &problem);
    if (!range) return Refuse(path, problem);
    const OpenFileSource program(packages_.programFd, length);
    return WalkMembers(program, Walk{path, list, slot, kind, range->begin, range->end});
  }
  if (slot < -1 || slot >= SLOT_COUNT) return Refuse(path, Format("there is no slot %d", slot));
  // Never waits: a pipe or a device named like a package is refused, not read.
  const Result<OpenedFile> opened = OpenRegularFile(path);
  if (!opened) {
    Fail(FAIL_FILE_OPEN, Format("%s (Line: %d)", LoadString(IDS_FILE_OPEN_FAILED),
                                kind == WalkKind::Tar ? LINE_SCAN_TAR : LINE_SCAN_TAR_MD5));
    reports_.Note(DescribeFileProblem(path, opened.error().text));
    return false;
  }
  const OpenedFile& file = *opened;
  uint64_t end = file.size;
  if (kind == WalkKind::TarMd5 && slot >= 0) {
    end = 0;  // an MD5 package that is not a tar: nothing to collect
  } else if (kind == WalkKind::TarMd5) {
    const auto tarLength = Md5TarLength(end, PathFileName(path).size());
    if (!tarLength) return Refuse(path, "the file is shorter than its MD5 trailer");
    end = *tarLength;
  }
  const OpenFileSource package(file.fd, file.size);
  return WalkMembers(package, Walk{path, list, -1, kind, 0, end});
}

bool FileAnalyser::WalkMembers(const ByteSource& source, const Walk& walk) {
  TarWalkOptions options;
  options.known = &headerBlocks_;
  options.fullNames = TarFullName::Whole;
  options.passedOver = [this](const std::string& what, const std::string& name) {
    reports_.Note("Skip " + what + " " + name);
  };
  TarWalk tar(source, walk.begin, walk.end, std::move(options));
  TarMember member;
  for (;;) {
    switch (tar.Next(member)) {
      case TarStep::End:
        return true;
      case TarStep::Broken:
        return Refuse(walk.path, InSlot(walk.slot) + tar.Problem());
      case TarStep::Member:
        if (!TakeMember(source, walk, member)) return false;
        break;
    }
  }
}

// Meta-data members and partition tables are read by the station, never sent: neither makes
// an entry nor counts toward the total.
bool FileAnalyser::TakeMember(const ByteSource& source, const Walk& walk, const TarMember& member) {
  const std::string& name = member.name;
  const auto refuse = [&](const std::string& why) {
    return Refuse(walk.path, InSlot(walk.slot) + why);
  };
  if (CMetaDataVerifier::IsMetaDataEntry(name)) {
    return LastChars(name, 17) != "download-list.txt" || TakeDownloadList(source, walk, member);
  }
  if (Upper(LastChars(name, 3)) == "PIT") {
    if (member.size > UINT32_MAX) return refuse("the table " + name + " is too large");
    found_.packagePit = PackagePit{true, walk.path, member.size, member.dataOffset};
    found_.rePartition = true;
    return true;
  }
  // A cut name could match another partition's file: such a package is not flashed.
  if (name.size() > MAX_FILE_NAME) {
    return refuse("the member name " + name + " is longer than 31 characters");
  }
  auto entry = std::make_unique<DownloadEntry>();
  entry->dataOffset = member.dataOffset;
  entry->size = member.size;
  CopyToField(entry->fileName, sizeof entry->fileName, name);
  if (walk.kind == WalkKind::Deflated) {
    const auto* header = reinterpret_cast<const char*>(member.header.data());
    const auto inflated =
        ParseTarOctal(std::string_view(header + INFLATED_SIZE_OFFSET, TAR_SIZE_FIELD));
    if (!inflated) return refuse("the member " + name + " has no inflated size");
    entry->inflatedSize = *inflated;
  }
  found_.packageTotal += walk.kind == WalkKind::Deflated ? entry->inflatedSize : entry->size;
  if (!packages_.OneClick() && EqualsIgnoreCase(name, "UFS_Header.bin")) {
    reports_.Notef("Ignore UFS_Header.bin");
    return true;
  }
  walk.list.push_back(std::move(entry));
  return true;
}

// The last list read wins, whichever package it came from.
bool FileAnalyser::TakeDownloadList(const ByteSource& source, const Walk& walk,
                                    const TarMember& member) {
  const std::string what = InSlot(walk.slot) + "the download list " + member.name;
  if (member.size > MAX_DOWNLOAD_LIST) return Refuse(walk.path, what + " is damaged");
  std::string text(static_cast<size_t>(member.size), '\0');
  if (!source.ReadExactly(member.dataOffset, text.data(), text.size())) {
    return Refuse(walk.path, what + " cannot be read");
  }
  found_.downloadList = FoundDownloadList{std::move(text), walk.path, walk.slot, {}};
  return true;
}

// A list that keeps nothing of what the packages hold would make a run that writes nothing
// and passes; a list that empties some slots only is what a home binary is for.
bool FileAnalyser::ApplyDownloadList() {
  FoundDownloadList& list = *found_.downloadList;
  list.names = DownloadListNames(list.text);
  size_t held = 0, kept = 0;
  reports_.Notef("skip file list for home binary");
  for (int slot = 0; slot < SLOT_COUNT; ++slot) {
    if (!packages_.Chosen(slot)) continue;
    AnalysedSlot& analysed = found_.slots[slot];
    held += analysed.members.size();
    analysed.dropped = KeepListedMembers(analysed.members, list.names);
    for (const std::string& name : analysed.dropped) reports_.Note(name);
    kept += analysed.members.size();
  }
  reports_.Notef("Home Binary Download");
  if (held == 0 || kept != 0) return true;
  return Refuse(list.package, InSlot(list.slot) + "its download list leaves nothing to send (" +
                                  EmptyListReason(list.text) + ")");
}

bool FileAnalyser::Refuse(const std::string& path, const std::string& why) {
  return Fail(FAIL_FILE_OPEN, std::string(PathFileName(path)) + ": " + why);
}

bool FileAnalyser::Fail(int64_t code, const std::string& text) {
  reports_.Fail(code, text);
  found_.failure = AnalysisFailure{code, TruncateChars(text, REPORT_TEXT_CHARS)};
  return false;
}

}  // namespace mirk3
