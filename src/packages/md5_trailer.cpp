#include "packages/md5_trailer.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "base/text.h"
#include "packages/md5.h"

namespace mirk3 {
namespace {

constexpr size_t DIGEST_TEXT_LENGTH = 32;

class FileHandle {
 public:
  explicit FileHandle(int fd) : fd_(fd) {}
  ~FileHandle() {
    if (fd_ >= 0) close(fd_);
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// The digest buffer: one anonymous mapping, unmapped when the check is done with it.
class DigestBuffer {
 public:
  DigestBuffer() {
    void* p = mmap(nullptr, MD5_DIGEST_BUFFER_SIZE, PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    data_ = p == MAP_FAILED ? nullptr : static_cast<uint8_t*>(p);
  }
  ~DigestBuffer() { Release(); }
  DigestBuffer(const DigestBuffer&) = delete;
  DigestBuffer& operator=(const DigestBuffer&) = delete;

  uint8_t* data() const { return data_; }
  void Release() {
    if (data_) munmap(data_, MD5_DIGEST_BUFFER_SIZE);
    data_ = nullptr;
  }

 private:
  uint8_t* data_ = nullptr;
};

bool ReadExactly(int fd, char* out, size_t length) {
  size_t done = 0;
  while (done < length) {
    const ssize_t got = read(fd, out + done, length - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    done += static_cast<size_t>(got);
  }
  return true;
}

void Log(const Md5LogSink& log, std::string_view line) {
  if (log) log(line);
}

// Opens a regular file for reading. O_NONBLOCK keeps a FIFO or device from holding the
// check up; it has no effect on the reads of a regular file.
int OpenRegularFile(const std::string& path, uint64_t& length) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return -1;
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    return -1;
  }
  length = static_cast<uint64_t>(info.st_size);
  return fd;
}

}  // namespace

std::optional<uint64_t> Md5TarLength(uint64_t fileLength, size_t nameLength) {
  const uint64_t trailer = Md5TrailerLength(nameLength);
  if (fileLength < trailer) return std::nullopt;
  return fileLength - trailer;
}

std::string_view PathFileName(std::string_view path) {
  const size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::mutex& Md5CheckLock() {
  static std::mutex lock;
  return lock;
}

bool VerifyMd5Trailer(const std::string& path, const Md5LogSink& log) {
  std::lock_guard<std::mutex> hold(Md5CheckLock());
  uint64_t fileLength = 0;
  FileHandle file(OpenRegularFile(path, fileLength));
  if (file.get() < 0) return false;

  // The name length is counted in bytes: the trailer holds the name as the bytes of the file
  // name, so a name with multi-byte characters is located correctly.
  const std::optional<uint64_t> tarLength = Md5TarLength(fileLength, PathFileName(path).size());
  if (!tarLength) {
    Log(log, "MD5 hash value is invalid");
    return false;
  }

  DigestBuffer buffer;
  if (!buffer.data()) {
    Log(log, "There is no memory.");
    return false;
  }
  const std::string computed =
      CMD5().DigestFile(file.get(), buffer.data(), MD5_DIGEST_BUFFER_SIZE, *tarLength);
  char expected[DIGEST_TEXT_LENGTH];
  const bool haveExpected =
      !computed.empty() && ReadExactly(file.get(), expected, DIGEST_TEXT_LENGTH);
  buffer.Release();

  if (!haveExpected ||
      !EqualsIgnoreCase(computed, std::string_view(expected, DIGEST_TEXT_LENGTH))) {
    Log(log, "MD5 hash value is invalid");
    return false;
  }
  return true;
}

}  // namespace mirk3
