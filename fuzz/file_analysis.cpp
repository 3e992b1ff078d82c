// Fuzzes the file analysis step over an untrusted package: the package is written as a ".tar",
// as a ".tar.md5" and as the one slot of a One Click program, and each is analysed by a fresh
// engine the way a worker's first step is. Whatever the bytes, the step must never read or
// list anything outside the package, and every member it lists must fit its record.
//
// The first input byte chooses how the rest becomes the package: as it is, or spread into
// 512-byte blocks (each 24 input bytes fill a block's name and size fields), so that archives
// of many members are reached without the fuzzer having to write every block.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>

#include "engine/download_engine.h"
#include "packages/md5_trailer.h"
#include "packages/tar_walk.h"
#include "support/fuzz_target.h"
#include "support/scratch_dir.h"

namespace {


// Every listed member lies inside [start, bound), in whole blocks after its header, with a
// name that fits its record and, when a download list was read, that the list names.
void CheckLists(const mirk3::DownloadPlan& found, uint64_t start, uint64_t bound) {
  for (const mirk3::AnalysedSlot& slot : found.slots) {
    for (const auto& entry : slot.members) {
      if (entry->dataOffset < start + mirk3::TAR_BLOCK_SIZE) std::abort();
      if ((entry->dataOffset - start) % mirk3::TAR_BLOCK_SIZE != 0) std::abort();
      if (entry->size > bound - entry->dataOffset) std::abort();
      if (std::memchr(entry->fileName, 0, sizeof entry->fileName) == nullptr) std::abort();
      if (entry->fileName[0] == '\0') std::abort();
      if (found.downloadList) {
        const auto& names = found.downloadList->names;
        if (std::find(names.begin(), names.end(), entry->fileName) == names.end()) std::abort();
      }
    }
  }
  const mirk3::PackagePit& pit = found.packagePit;
  if (pit.present && (pit.offset < start || pit.size > bound - pit.offset)) std::abort();
}

void AnalyseFile(const std::string& path, uint64_t bound) {
  mirk3::EngineContext context;
  context.ownExecutablePath = "/dev/null";
  mirk3::CDownloadEngine engine(nullptr, 0, context);
  mirk3::DownloadOptions options;
  options.slotEnabled[mirk3::AP] = 1;
  options.slotPath[mirk3::AP] = path;
  engine.CopyOptions(options);
  const mirk3::DownloadPlan found = engine.AnalyseFiles();
  if (found.Passed()) CheckLists(found, 0, bound);
}

// The package as the AP slot of a One Click program, walked as `type`; the slot record claims
// `claimed` bytes, which may be more or fewer than the package holds.
void AnalyseOneClick(const std::string& package, int16_t type, uint32_t claimed) {
  constexpr uint32_t OFFSET = 512;
  mirk3::OneClickTrailer trailer;
  trailer.slots[mirk3::AP] = {OFFSET, claimed, type};
  for (const char c : std::string(mirk3::ONECLICK_TITLE)) {
    trailer.title.push_back(static_cast<char16_t>(c));
  }
  const auto encoded = trailer.Encode();
  std::string program(OFFSET, 'p');
  program += package;
  program.append(reinterpret_cast<const char*>(encoded.data()), encoded.size());
  const std::string programPath =
      mirk3::fuzz::WriteScratchFile("oneclick", program.data(), program.size());

  mirk3::EngineContext context;
  context.ownExecutablePath = programPath;
  mirk3::CDownloadEngine engine(nullptr, 0, context);
  if (!engine.OneClickMode()) std::abort();
  engine.CopyOptions({});
  // Nothing is ever listed outside the slot's claim nor outside what the program holds.
  const uint64_t bound = OFFSET + std::min<uint64_t>(claimed, package.size());
  const mirk3::DownloadPlan found = engine.AnalyseFiles();
  if (found.Passed()) {
    if (claimed > package.size()) std::abort();  // a slot over the trailer is refused
    CheckLists(found, OFFSET, bound);
  }
}

// Each whole 24-byte chunk becomes a block: its first byte picks one of the names the
// analysis treats apart (and its second byte the tar type flag), or the first 12 bytes are the
// name as they are; the last 12 bytes are the size field and the second size field. A shorter
// tail is kept as it is: a cut archive.
std::string SpreadIntoBlocks(const uint8_t* data, size_t size) {
  static const std::string NAMES[] = {"boot.img",
                                      "UFS_Header.bin",
                                      "dir/UFS_Header.bin",
                                      "part.pit",
                                      "meta-data/download-list.txt",
                                      "meta-data/fota.mf",
                                      std::string(31, 'n'),
                                      std::string(32, 'n')};
  constexpr size_t NAME = 12, FIELD = 12, CHUNK = NAME + FIELD;
  std::string out;
  size_t at = 0;
  for (; at + CHUNK <= size; at += CHUNK) {
    std::string block(mirk3::TAR_BLOCK_SIZE, '\0');
    const uint8_t pick = data[at];
    if (pick < std::size(NAMES)) {
      block.replace(0, NAMES[pick].size(), NAMES[pick]);
      static const char TYPES[] = {'0', '\0', '7', '5', '1', '2', 'x', 'g', 'L', 'K', 'S', 'Q'};
      block[mirk3::TAR_TYPE_OFFSET] = TYPES[data[at + 1] % std::size(TYPES)];
    } else {
      std::memcpy(&block[0], data + at, NAME);
    }
    std::memcpy(&block[mirk3::TAR_SIZE_OFFSET], data + at + NAME, FIELD);
    std::memcpy(&block[500], data + at + NAME, FIELD);
    out += block;
  }
  out.append(reinterpret_cast<const char*>(data) + at, size - at);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t choice = data[0];
  const std::string package = (choice & 1) != 0
                                  ? SpreadIntoBlocks(data + 1, size - 1)
                                  : std::string(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::string tar =
      mirk3::fuzz::WriteScratchFile("AP_fuzz.tar", package.data(), package.size());
  AnalyseFile(tar, package.size());
  const std::string tarMd5 =
      mirk3::fuzz::WriteScratchFile("AP_fuzz.tar.md5", package.data(), package.size());
  const auto tarPart = mirk3::Md5TarLength(package.size(), mirk3::PathFileName(tarMd5).size());
  AnalyseFile(tarMd5, tarPart.value_or(0));
  // Unknown slot types are tried as well.
  const int16_t types[] = {mirk3::ONECLICK_TAR, mirk3::ONECLICK_TAR_MD5,
                           mirk3::ONECLICK_TAR_DEFLATED, 2};
  if (!package.empty()) {
    // Most inputs claim the package's own length; some claim a little more or less.
    const uint32_t length = static_cast<uint32_t>(package.size());
    const uint32_t claimed = (choice & 0x20) == 0   ? length
                             : (choice & 0x40) != 0 ? length + 1 + (choice >> 7) * 1468
                                                    : length / 2;
    AnalyseOneClick(package, types[(choice >> 1) % 4], claimed == 0 ? length : claimed);
  }
  return 0;
}
