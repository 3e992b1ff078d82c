// Files as every layer reads them: one owner of a file descriptor, reads that retry on EINTR
// and fill what they were asked for unless the file ends, and an open that takes regular
// files only, never waits (a FIFO or a device named like a file is refused, not read) and
// says why a file was refused in words an operator can act on.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/result.h"

namespace mirk3 {

// Owns one file descriptor and closes it once.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int Get() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }
  explicit operator bool() const { return Valid(); }
  int Release();
  void Reset(int fd = -1);
  // Closes now and says whether close succeeded: a file written through the descriptor may
  // report a failed write only here.
  bool Close();

 private:
  int fd_ = -1;
};

// A descriptor that someone else owns and keeps open while this one is used: taken by whoever
// reads or writes through a descriptor without closing it.
class BorrowedFd {
 public:
  BorrowedFd() = default;
  explicit BorrowedFd(int fd) : fd_(fd) {}
  BorrowedFd(const UniqueFd& owner) : fd_(owner.Get()) {}  // NOLINT: borrowing is implicit
  int Get() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

// Reads until `count` bytes arrived, the file ends or a read fails, retrying EINTR: a short
// read in the middle of a file never leaves a gap. Returns the bytes read, or -1 when a read
// failed before any byte arrived.
ssize_t ReadFully(int fd, void* buffer, size_t count);
// The same at a position, without moving the file offset.
ssize_t ReadFullyAt(int fd, void* buffer, size_t count, uint64_t offset);
// True when exactly `count` bytes were read at `offset`.
bool ReadExactAt(int fd, void* buffer, size_t count, uint64_t offset);
// Writes all `count` bytes; retries EINTR. False on any failure.
bool WriteFully(int fd, const void* buffer, size_t count);
// The same at a position, without moving the file offset.
bool WriteFullyAt(int fd, const void* buffer, size_t count, uint64_t offset);

// A regular file opened for reading, with its size.
struct OpenedFile {
  UniqueFd fd;
  uint64_t size = 0;
};

// Opens `path` read-only without blocking (a FIFO without a writer is refused at once, never
// waited on) and keeps it only when it is a regular file. The descriptor is then switched
// back to blocking reads. A refusal says why in the operator's words ("no such file", "a
// directory, not a file", "a pipe, not a regular file", ...) with the errno behind it: EISDIR
// for a directory, EINVAL for another kind of file.
Result<OpenedFile> OpenRegularFile(const std::string& path);

// Why `path` cannot be written as an output: "" when it may be (it does not exist, or is a
// regular file), else "a directory", "not a regular file", ...
std::string OutputPathProblem(const std::string& path);

// "<path>: <reason>" as the log lines that follow a refusal put it.
std::string DescribeFileProblem(const std::string& path, const std::string& reason);

// The operator's words for an errno of open or stat ("no such file", "permission denied", ...).
std::string FileErrorText(int error);

}  // namespace mirk3
