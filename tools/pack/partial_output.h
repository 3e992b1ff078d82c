// How mirk3-pack writes every file it makes: an output appears whole or not at all. It is
// written under a partial name beside its final path ("<path>.partial-<pid>-<n>") and renamed
// into place only when everything was written. On any failure, when the writer is dropped, and
// when SIGINT or SIGTERM ends the program (see removal_on_signal.h), the partial file is
// removed, so no partial output is left and nothing appears under the final name.
//
// An output never replaces what is not a file of its own kind: a final path that exists and is
// not a regular file (a device, a symbolic link, a directory...) or that is one of the command's
// inputs under any name (a hard or symbolic link, another spelling) is refused with a message
// naming the path and the reason, before anything is written and once more before the rename.
//
// A size limit makes every write that would take the file past it fail.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/file.h"
#include "packages/byte_source.h"

namespace mirk3::pack {

struct OutputRules {
  mode_t mode = 0666;               // less the umask, as for any new file
  std::vector<std::string> inputs;  // files the output must not be, under any name
  bool replace = true;              // false: a path that exists already is refused
};

// Why `finalPath` may not be written under `rules`: "" when it may, else the reason.
std::string OutputProblem(const std::string& finalPath, const OutputRules& rules);

class PartialOutput {
 public:
  PartialOutput() = default;
  ~PartialOutput();
  PartialOutput(const PartialOutput&) = delete;
  PartialOutput& operator=(const PartialOutput&) = delete;

  // Checks `finalPath` against `rules` and creates the partial file beside it.
  bool Create(const std::string& finalPath, const OutputRules& rules = {});
  // Appends bytes at the end.
  bool Write(const void* bytes, size_t count);
  bool Write(std::string_view bytes) { return Write(bytes.data(), bytes.size()); }
  // Overwrites bytes already written (a header whose size was not known when it was written).
  bool WriteAt(uint64_t position, const void* bytes, size_t count);
  // Appends `count` bytes of `source` from `from`.
  bool CopyFrom(const ByteSource& source, uint64_t from, uint64_t count,
                const std::string& sourceName);
  // Closes the file, checks the final path once more and renames the file to it.
  bool Commit();

  // Writes that would end past `limit` bytes fail, and TooLarge() says so afterwards.
  void SetLimit(uint64_t limit) { limit_ = limit; }
  bool TooLarge() const { return tooLarge_; }

  uint64_t Position() const { return position_; }
  const std::string& Error() const { return error_; }

 private:
  bool CreatePartialFile();
  bool Fail(std::string message);
  bool FailWrite();
  void Discard();

  UniqueFd fd_;
  std::string partialPath_;
  int registration_ = -1;  // of the partial file for removal on a signal
  std::string finalPath_;
  OutputRules rules_;
  uint64_t position_ = 0;
  uint64_t limit_ = UINT64_MAX;
  bool tooLarge_ = false;
  std::string error_;
};

}  // namespace mirk3::pack
