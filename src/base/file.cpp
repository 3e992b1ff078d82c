#include "base/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace mirk3 {

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) Reset(other.Release());
  return *this;
}

int UniqueFd::Release() {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

void UniqueFd::Reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

bool UniqueFd::Close() { return fd_ >= 0 && ::close(Release()) == 0; }

namespace {

// Repeats `step` (one read or write of what is left after `done` bytes) until `count` bytes
// went through, retrying EINTR; a step of 0 bytes ends it. Returns the bytes that went through,
// or -1 when the first step failed.
template <typename Step>
ssize_t TransferFully(size_t count, Step step) {
  size_t done = 0;
  while (done < count) {
    const ssize_t n = step(done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return done == 0 ? -1 : static_cast<ssize_t>(done);
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(done);
}

bool BeyondAnyFile(uint64_t offset) { return offset > static_cast<uint64_t>(INT64_MAX); }

}  // namespace

ssize_t ReadFully(int fd, void* buffer, size_t count) {
  auto* bytes = static_cast<uint8_t*>(buffer);
  return TransferFully(count, [&](size_t done) { return ::read(fd, bytes + done, count - done); });
}

ssize_t ReadFullyAt(int fd, void* buffer, size_t count, uint64_t offset) {
  auto* bytes = static_cast<uint8_t*>(buffer);
  return TransferFully(count, [&](size_t done) -> ssize_t {
    if (BeyondAnyFile(offset + done)) return 0;  // no file reaches there: its end
    return ::pread(fd, bytes + done, count - done, static_cast<off_t>(offset + done));
  });
}

bool ReadExactAt(int fd, void* buffer, size_t count, uint64_t offset) {
  return ReadFullyAt(fd, buffer, count, offset) == static_cast<ssize_t>(count);
}

bool WriteFully(int fd, const void* buffer, size_t count) {
  const auto* bytes = static_cast<const uint8_t*>(buffer);
  return TransferFully(count, [&](size_t done) {
           return ::write(fd, bytes + done, count - done);
         }) == static_cast<ssize_t>(count);
}

bool WriteFullyAt(int fd, const void* buffer, size_t count, uint64_t offset) {
  const auto* bytes = static_cast<const uint8_t*>(buffer);
  return TransferFully(count, [&](size_t done) -> ssize_t {
           if (BeyondAnyFile(offset + done)) {
             errno = EFBIG;
             return -1;
           }
           return ::pwrite(fd, bytes + done, count - done, static_cast<off_t>(offset + done));
         }) == static_cast<ssize_t>(count);
}

std::string FileErrorText(int error) {
  switch (error) {
    case ENOENT:
      return "no such file";
    case EACCES:
    case EPERM:
      return "permission denied";
    case EISDIR:
      return "a directory, not a file";
    case ENOTDIR:
      return "a folder on its path is not a directory";
    case ENAMETOOLONG:
      return "the path is too long";
    case ELOOP:
      return "too many symbolic links";
    default:
      return std::strerror(error);
  }
}

namespace {

std::string KindProblem(mode_t mode) {
  if (S_ISREG(mode)) return "";
  if (S_ISDIR(mode)) return FileErrorText(EISDIR);
  if (S_ISFIFO(mode)) return "a pipe, not a regular file";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device, not a regular file";
  if (S_ISSOCK(mode)) return "a socket, not a regular file";
  return "not a regular file";
}

Error RefusedFor(int error) { return Fail(FileErrorText(error), error); }

}  // namespace

Result<OpenedFile> OpenRegularFile(const std::string& path) {
  if (path.empty()) return Fail("no file given", ENOENT);
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (!fd) return RefusedFor(errno);
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0) return RefusedFor(errno);
  if (!S_ISREG(st.st_mode)) {
    return Fail(KindProblem(st.st_mode), S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
  }
  // Regular files never block; reads loop on their own.
  const int flags = ::fcntl(fd.Get(), F_GETFL);
  if (flags >= 0) ::fcntl(fd.Get(), F_SETFL, flags & ~O_NONBLOCK);
  return OpenedFile{std::move(fd), static_cast<uint64_t>(st.st_size)};
}

std::string OutputPathProblem(const std::string& path) {
  if (path.empty()) return "no file given";
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return errno == ENOENT ? "" : FileErrorText(errno);
  if (S_ISLNK(st.st_mode)) return "a symbolic link, not a regular file";
  return KindProblem(st.st_mode);
}

std::string DescribeFileProblem(const std::string& path, const std::string& reason) {
  return path + ": " + reason;
}

}  // namespace mirk3
