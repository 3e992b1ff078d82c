// File analysis the way a worker runs it, for tests: a fresh engine (whose own program carries
// no packages unless a test gives one) with the chosen packages in their slots, one run of the
// analysis, and what it found and reported in a form that compares in one line. Also the
// pieces tests need to write unusual tar files: raw headers, sparse packages.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/download_engine.h"
#include "pack/tar_writer.h"
#include "support/recording_sink.h"

namespace mirk3::test {

class AnalysisRun {
 public:
  // Chooses `packages` (slot -> path) and runs the step; `program` is the engine's own file.
  explicit AnalysisRun(const std::map<int, std::string>& packages,
                       const std::string& program = "/dev/null") {
    EngineContext context;
    context.ownExecutablePath = program;
    CDownloadEngine engine(&sink_, 0, context);
    DownloadOptions options;
    for (const auto& [slot, path] : packages) {
      options.slotEnabled[slot] = 1;
      options.slotPath[slot] = path;
    }
    engine.CopyOptions(options);
    sink_.Clear();
    found_ = engine.AnalyseFiles();
  }

  bool Passed() const { return found_.Passed(); }
  const DownloadPlan& Found() const { return found_; }
  const EntryList& Members(int slot) const { return found_.slots[slot].members; }
  // The download list's bytes, when a package held one.
  std::optional<std::string> ListText() const {
    if (!found_.downloadList) return std::nullopt;
    return found_.downloadList->text;
  }

  // A slot's list as "name@dataOffset+size" (and "/inflatedSize" when it has one).
  std::vector<std::string> Listed(int slot) const {
    std::vector<std::string> out;
    for (const auto& entry : Members(slot)) {
      std::string text = std::string(entry->fileName) + "@" + std::to_string(entry->dataOffset) +
                         "+" + std::to_string(entry->size);
      if (entry->inflatedSize != 0) text += "/" + std::to_string(entry->inflatedSize);
      out.push_back(text);
    }
    return out;
  }
  // The texts of the step's log lines, "File analysis.." first.
  std::vector<std::string> Logs() const { return Texts(WM_DL_LOG); }
  // The step's failure reports as "text|code".
  std::vector<std::string> Fails() const { return sink_.Of(WM_DL_FAIL); }

 private:
  std::vector<std::string> Texts(int message) const {
    std::vector<std::string> out;
    for (const auto& r : sink_.All()) {
      if (r.message == message) out.push_back(r.report.text);
    }
    return out;
  }

  RecordingSink sink_;
  DownloadPlan found_;
};

// A 512-byte ustar header as a string, for archives written piece by piece.
inline std::string HeaderBytes(const std::string& name, uint64_t size) {
  const auto block = pack::MakeTarHeader(name, size);
  return std::string(reinterpret_cast<const char*>(block.data()), block.size());
}

// A header whose 12-byte size field holds `field` (NUL-filled) instead of a proper number.
inline std::string HeaderWithSizeField(const std::string& name, const std::string& field) {
  auto block = pack::MakeTarHeader(name, 0);
  std::memset(block.data() + TAR_SIZE_OFFSET, 0, TAR_SIZE_FIELD);
  std::memcpy(block.data() + TAR_SIZE_OFFSET, field.data(), std::min(field.size(), TAR_SIZE_FIELD));
  pack::SealTarHeader(block);
  return std::string(reinterpret_cast<const char*>(block.data()), block.size());
}

// A ustar header of tar type `type` ('5' a directory, 'x' a pax header, ...).
inline std::string HeaderOfType(const std::string& name, uint64_t size, char type) {
  auto block = pack::MakeTarHeader(name, size);
  block[TAR_TYPE_OFFSET] = static_cast<uint8_t>(type);
  pack::SealTarHeader(block);
  return std::string(reinterpret_cast<const char*>(block.data()), block.size());
}

// One pax record, "<length> <key>=<value>\n", its length counting itself.
inline std::string PaxRecord(const std::string& key, const std::string& value) {
  const size_t body = key.size() + value.size() + 3;  // blank, '=' and line feed
  size_t length = body + 1;
  while (std::to_string(length).size() + body != length) ++length;
  return std::to_string(length) + " " + key + "=" + value + "\n";
}

// A pax extended header entry (type 'x', or 'g' for a global one) holding `records`, padded.
inline std::string PaxEntry(const std::string& name, const std::string& records, char type = 'x') {
  std::string bytes = HeaderOfType(name, records.size(), type) + records;
  bytes.resize(TAR_BLOCK_SIZE + TarPaddedSize(records.size()), '\0');
  return bytes;
}

// `bytes` followed by zeros up to the next 512-byte boundary.
inline std::string Padded(std::string bytes) {
  bytes.resize(TarPaddedSize(bytes.size()), '\0');
  return bytes;
}

// Writes a sparse file of `length` bytes holding `pieces` (offset -> bytes) and holes between.
inline void WriteSparseFile(const std::string& path, uint64_t length,
                            const std::map<uint64_t, std::string>& pieces) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0) << path;
  ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(length)), 0) << path;
  for (const auto& [offset, bytes] : pieces) {
    ASSERT_EQ(::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset)),
              static_cast<ssize_t>(bytes.size()));
  }
  ::close(fd);
}

}  // namespace mirk3::test
