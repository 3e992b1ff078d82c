#include "packages/md5_trailer.h"

#include <sys/mman.h>

#include "base/file.h"
#include "base/text.h"
#include "packages/md5.h"

namespace mirk3 {
namespace {

constexpr size_t DIGEST_TEXT_LENGTH = 32;

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

void Log(const Md5LogSink& log, std::string_view line) {
  if (log) log(line);
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
  // A FIFO or a device never holds the check up: only a regular file is opened.
  const OpenedFile file = OpenRegularFile(path);
  if (!file) return false;

  // The name length is counted in bytes: the trailer holds the name as the bytes of the file
  // name, so a name with multi-byte characters is located correctly.
  const std::optional<uint64_t> tarLength = Md5TarLength(file.size, PathFileName(path).size());
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
      CMD5().DigestFile(file.fd.Get(), buffer.data(), MD5_DIGEST_BUFFER_SIZE, *tarLength);
  char expected[DIGEST_TEXT_LENGTH];
  const bool haveExpected =
      !computed.empty() && ReadExactAt(file.fd.Get(), expected, sizeof expected, *tarLength);
  buffer.Release();

  if (!haveExpected ||
      !EqualsIgnoreCase(computed, std::string_view(expected, DIGEST_TEXT_LENGTH))) {
    Log(log, "MD5 hash value is invalid");
    return false;
  }
  return true;
}

}  // namespace mirk3
