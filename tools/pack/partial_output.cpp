#include "pack/partial_output.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>

#include "base/text.h"
#include "pack/removal_on_signal.h"

namespace mirk3::pack {
namespace {

constexpr size_t COPY_CHUNK = 1048576;
// Partial names already taken (left by an earlier run whose number this process now has).
constexpr unsigned CREATE_ATTEMPTS = 100;

std::atomic<unsigned> partialNumber{0};

bool SameFile(const std::string& a, const std::string& b) {
  struct stat first {
  }, second{};
  return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 &&
         first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

// Renames without replacing: fails with EEXIST when `to` exists.
bool RenameNew(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // A file system without the flag: a hard link is made only when the name is free.
  if (::link(from.c_str(), to.c_str()) != 0) return false;
  ::unlink(from.c_str());
  return true;
}

}  // namespace

std::string OutputProblem(const std::string& finalPath, const OutputRules& rules) {
  for (const std::string& input : rules.inputs) {
    if (!input.empty() && SameFile(input, finalPath)) return "it would replace its input " + input;
  }
  struct stat info {};
  if (!rules.replace && ::lstat(finalPath.c_str(), &info) == 0) {
    return "it exists already and is not replaced";
  }
  return OutputPathProblem(finalPath);
}

PartialOutput::~PartialOutput() { Discard(); }

void PartialOutput::Discard() {
  fd_.Reset();
  if (partialPath_.empty()) return;
  const HeldSignals held;
  ::unlink(partialPath_.c_str());
  ForgetOnSignal(registration_);
  registration_ = -1;
  partialPath_.clear();
}

bool PartialOutput::Fail(std::string message) {
  if (error_.empty()) error_ = std::move(message);
  Discard();
  return false;
}

// After a write that failed, with errno cleared before it: a write that took nothing sets none.
bool PartialOutput::FailWrite() {
  return Fail(Format("cannot write %s: %s", finalPath_.c_str(),
                     errno != 0 ? std::strerror(errno) : "nothing was written"));
}

bool PartialOutput::Create(const std::string& finalPath, const OutputRules& rules) {
  Discard();
  finalPath_ = finalPath;
  rules_ = rules;
  position_ = 0;
  tooLarge_ = false;
  error_.clear();
  const std::string problem = OutputProblem(finalPath, rules);
  if (!problem.empty()) return Fail("cannot write " + DescribeFileProblem(finalPath, problem));
  return CreatePartialFile();
}

bool PartialOutput::CreatePartialFile() {
  // The file and its registration for removal come into being together.
  const HeldSignals held;
  for (unsigned attempt = 0; attempt < CREATE_ATTEMPTS; ++attempt) {
    const std::string path =
        Format("%s.partial-%d-%u", finalPath_.c_str(), ::getpid(), partialNumber.fetch_add(1));
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, rules_.mode);
    if (fd < 0 && errno == EEXIST) continue;
    if (fd < 0) break;
    fd_.Reset(fd);
    partialPath_ = path;
    registration_ = RemoveOnSignal(path);
    if (registration_ < 0) return Fail("cannot create " + finalPath_ + ": too many open outputs");
    return true;
  }
  return Fail(Format("cannot create %s: %s", finalPath_.c_str(), std::strerror(errno)));
}

bool PartialOutput::WriteAt(uint64_t position, const void* bytes, size_t count) {
  if (!fd_) return Fail("no output is open");
  errno = 0;
  if (!WriteFullyAt(fd_.Get(), bytes, count, position)) return FailWrite();
  return true;
}

bool PartialOutput::Write(const void* bytes, size_t count) {
  if (!fd_) return Fail("no output is open");
  if (count > limit_ || position_ > limit_ - count) {
    tooLarge_ = true;
    return Fail(Format("%s would be larger than %llu bytes", finalPath_.c_str(),
                       static_cast<unsigned long long>(limit_)));
  }
  errno = 0;
  if (!WriteFully(fd_.Get(), bytes, count)) return FailWrite();
  position_ += count;
  return true;
}

bool PartialOutput::CopyFrom(const ByteSource& source, uint64_t from, uint64_t count,
                             const std::string& sourceName) {
  const auto buffer = std::make_unique<char[]>(COPY_CHUNK);
  for (uint64_t done = 0; done < count;) {
    const size_t chunk = static_cast<size_t>(std::min<uint64_t>(COPY_CHUNK, count - done));
    if (!source.ReadExactly(from + done, buffer.get(), chunk)) {
      return Fail(
          Format("%s changed or could not be read while it was copied", sourceName.c_str()));
    }
    if (!Write(buffer.get(), chunk)) return false;
    done += chunk;
  }
  return true;
}

bool PartialOutput::Commit() {
  if (!fd_) return Fail("no output is open");
  if (!fd_.Close()) {
    return Fail(Format("cannot write %s: %s", finalPath_.c_str(), std::strerror(errno)));
  }
  // The path may have become something else while the output was written.
  const std::string problem = OutputProblem(finalPath_, rules_);
  if (!problem.empty()) return Fail("cannot write " + DescribeFileProblem(finalPath_, problem));
  const HeldSignals held;
  const bool moved = rules_.replace ? ::rename(partialPath_.c_str(), finalPath_.c_str()) == 0
                                    : RenameNew(partialPath_, finalPath_);
  if (!moved) {
    return Fail(Format("cannot create %s: %s", finalPath_.c_str(), std::strerror(errno)));
  }
  ForgetOnSignal(registration_);
  registration_ = -1;
  partialPath_.clear();
  return true;
}

}  // namespace mirk3::pack
