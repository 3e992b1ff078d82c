// An output file that appears whole or not at all: it is written under a temporary name beside
// its final path and renamed into place only when everything was written; on any failure (or
// when the writer is dropped) the temporary file is removed, so no partial output is left.
// A size limit makes every write that would take the file past it fail.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "packages/byte_source.h"

namespace mirk3::pack {

class PartialOutput {
 public:
  PartialOutput() = default;
  ~PartialOutput();
  PartialOutput(const PartialOutput&) = delete;
  PartialOutput& operator=(const PartialOutput&) = delete;

  // Creates the temporary file beside `finalPath`.
  bool Create(const std::string& finalPath);
  // Appends bytes at the end.
  bool Write(const void* bytes, size_t count);
  bool Write(std::string_view bytes) { return Write(bytes.data(), bytes.size()); }
  // Overwrites bytes already written (a header whose size was not known when it was written).
  bool WriteAt(uint64_t position, const void* bytes, size_t count);
  // Appends `count` bytes of `source` from `from`.
  bool CopyFrom(const ByteSource& source, uint64_t from, uint64_t count,
                const std::string& sourceName);
  // Sets the mode bits, closes the file and renames it to its final path.
  bool Commit(mode_t mode);

  // Writes that would end past `limit` bytes fail, and TooLarge() says so afterwards.
  void SetLimit(uint64_t limit) { limit_ = limit; }
  bool TooLarge() const { return tooLarge_; }

  uint64_t Position() const { return position_; }
  const std::string& Error() const { return error_; }

 private:
  bool Fail(std::string message);
  void Discard();

  int fd_ = -1;
  std::string tempPath_;
  std::string finalPath_;
  uint64_t position_ = 0;
  uint64_t limit_ = UINT64_MAX;
  bool tooLarge_ = false;
  std::string error_;
};

}  // namespace mirk3::pack
