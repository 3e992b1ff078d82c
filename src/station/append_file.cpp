#include "station/append_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "base/text.h"

namespace mirk3 {
namespace {

std::string ErrnoText(int error) { return std::generic_category().message(error); }

// Why a file of this kind cannot take lines; "" when it can.
std::string KindProblem(mode_t mode) {
  if (S_ISREG(mode) || S_ISCHR(mode)) return "";
  if (S_ISFIFO(mode)) return "it is a FIFO, not a regular file";
  if (S_ISSOCK(mode)) return "it is a socket, not a regular file";
  if (S_ISDIR(mode)) return "it is a directory";
  return "it is not a regular file";
}

}  // namespace

Status AppendFile::Open(const std::string& path, const std::string& what) {
  // Looked at before the open: opening a FIFO for writing waits for a reader, or fails with a
  // word that says nothing to an operator.
  struct stat st {};
  std::string problem = ::stat(path.c_str(), &st) == 0 ? KindProblem(st.st_mode) : "";
  int failure = 0;
  UniqueFd fd;
  if (problem.empty()) {
    // O_NONBLOCK: a terminal or a FIFO put there meanwhile never holds a write.
    fd.Reset(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NONBLOCK, 0644));
    if (!fd) {
      failure = errno;
      problem = ErrnoText(failure);
    }
  }
  if (fd && ::fstat(fd.Get(), &st) == 0) problem = KindProblem(st.st_mode);
  if (!problem.empty()) {
    return Fail(Format("cannot open %s \"%s\": %s", what.c_str(), path.c_str(), problem.c_str()),
                failure);
  }
  fd_ = std::move(fd);
  path_ = path;
  what_ = what;
  regular_ = S_ISREG(st.st_mode);
  return {};
}

Status AppendFile::Append(const std::string& line) {
  if (!fd_) return Fail(Format("%s is not open", what_.c_str()));
  size_t done = 0;
  int failure = 0;
  while (done < line.size()) {
    const ssize_t n = ::write(fd_.Get(), line.data() + done, line.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      failure = n < 0 ? errno : EIO;
      break;
    }
    done += static_cast<size_t>(n);
  }
  if (done == line.size()) return {};
  std::string fate;
  if (done > 0 && regular_) {
    // O_APPEND leaves the offset at the end of what this write put there.
    const off_t end = ::lseek(fd_.Get(), 0, SEEK_CUR);
    const bool cut = end >= static_cast<off_t>(done) &&
                     ::ftruncate(fd_.Get(), end - static_cast<off_t>(done)) == 0;
    fate = cut ? " (the part written was removed)" : " (a part of it is left in the file)";
  } else if (done > 0) {
    fate = " (a part of it was written)";
  }
  return Fail(Format("cannot write to %s \"%s\": %s%s", what_.c_str(), path_.c_str(),
                     ErrnoText(failure).c_str(), fate.c_str()),
              failure);
}

}  // namespace mirk3
