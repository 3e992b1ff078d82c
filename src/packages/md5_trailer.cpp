#include "packages/md5_trailer.h"

#include <sys/mman.h>

#include <algorithm>
#include <cctype>

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

// One check's way out: its log line, when it has one, and its reason.
class Md5Outcome {
 public:
  Md5Outcome(const Md5LogSink& log, Md5Failure* failure) : log_(log), failure_(failure) {}
  bool Fail(std::string_view logLine, Md5Problem problem, std::string text) const {
    if (log_ && !logLine.empty()) log_(logLine);
    if (failure_) *failure_ = {problem, std::move(text)};
    return false;
  }

 private:
  const Md5LogSink& log_;
  Md5Failure* failure_;
};

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

bool IsHexDigits(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; });
}

// A checksum line holds text between its digest and its line end (the separators and the
// name); the zero blocks that end a plain tar, or other binary data, do not.
bool LooksLikeChecksumLine(std::string_view trailer) {
  if (trailer.size() <= DIGEST_TEXT_LENGTH) return false;
  const std::string_view between =
      trailer.substr(DIGEST_TEXT_LENGTH, trailer.size() - DIGEST_TEXT_LENGTH - 1);
  return std::none_of(between.begin(), between.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
  });
}

// Why the trailer's digest text is not the computed one.
std::pair<Md5Problem, std::string> Mismatch(std::string_view trailer, std::string_view computed,
                                            std::string_view fileName) {
  const std::string_view expected = trailer.substr(0, DIGEST_TEXT_LENGTH);
  if (IsHexDigits(expected)) {
    return {Md5Problem::DigestDiffers, "the digest differs: the trailer says " + Lower(expected) +
                                           ", the tar part's is " + Lower(computed)};
  }
  if (!LooksLikeChecksumLine(trailer)) {
    // The line names the package without its ".md5".
    const std::string_view tarName = fileName.substr(0, std::max<size_t>(fileName.size(), 4) - 4);
    return {Md5Problem::NoTrailer,
            "no MD5 trailer: the file does not end in a checksum line for its name (32 hex "
            "digits, 2 separator bytes, " +
                QuotedText(tarName) + ", a line end)"};
  }
  return {Md5Problem::DigestNotHex,
          "the MD5 trailer's digest text is not 32 hex digits: " + QuotedText(expected)};
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

bool VerifyMd5Trailer(const std::string& path, const Md5LogSink& log, Md5Failure* failure) {
  std::lock_guard<std::mutex> hold(Md5CheckLock());
  const Md5Outcome outcome(log, failure);
  if (failure) *failure = {};
  const Result<OpenedFile> opened = OpenRegularFile(path);
  if (!opened) {
    return outcome.Fail("", Md5Problem::Unreadable, "cannot read the file: " + opened.error().text);
  }
  const OpenedFile& file = *opened;

  // The name length is counted in bytes: the trailer holds the name as the bytes of the file
  // name, so a name with multi-byte characters is located correctly.
  const std::string_view fileName = PathFileName(path);
  const uint64_t trailerLength = Md5TrailerLength(fileName.size());
  const std::optional<uint64_t> tarLength = Md5TarLength(file.size, fileName.size());
  if (!tarLength) {
    return outcome.Fail("MD5 hash value is invalid", Md5Problem::NoTrailer,
                        Format("no MD5 trailer: the file is %llu bytes, shorter than the %llu "
                               "bytes of the trailer its name calls for",
                               static_cast<unsigned long long>(file.size),
                               static_cast<unsigned long long>(trailerLength)));
  }

  DigestBuffer buffer;
  if (!buffer.data()) {
    return outcome.Fail("There is no memory.", Md5Problem::NoMemory,
                        "the 100 MiB digest buffer cannot be had");
  }
  const std::string computed =
      CMD5().DigestFile(file.fd.Get(), buffer.data(), MD5_DIGEST_BUFFER_SIZE, *tarLength);
  std::string trailer(trailerLength, '\0');
  const ssize_t got =
      computed.empty() ? -1 : ReadFully(file.fd.Get(), trailer.data(), trailerLength);
  buffer.Release();

  if (got < static_cast<ssize_t>(DIGEST_TEXT_LENGTH)) {
    return outcome.Fail("MD5 hash value is invalid", Md5Problem::Unreadable,
                        "the file ended or could not be read before its trailer");
  }
  trailer.resize(static_cast<size_t>(got));
  if (!EqualsIgnoreCase(computed, std::string_view(trailer).substr(0, DIGEST_TEXT_LENGTH))) {
    auto [problem, text] = Mismatch(trailer, computed, fileName);
    return outcome.Fail("MD5 hash value is invalid", problem, std::move(text));
  }
  return true;
}

}  // namespace mirk3
