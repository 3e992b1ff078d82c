#include "pack/tar_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "base/text.h"
#include "packages/byte_source.h"

namespace mirk3::pack {
namespace {

constexpr size_t CHECKSUM_OFFSET = 148;
constexpr size_t CHECKSUM_SIZE = 8;
constexpr size_t COPY_CHUNK = 1048576;
constexpr uint64_t ELEVEN_DIGIT_LIMIT = uint64_t{1} << 33;  // 8^11
constexpr uint64_t TWELVE_DIGIT_LIMIT = uint64_t{1} << 36;  // 8^12

void PutText(TarHeaderBlock& header, size_t offset, std::string_view text) {
  std::memcpy(header.data() + offset, text.data(), text.size());
}

// `digits` octal digits of `value`, most significant first.
void PutOctal(TarHeaderBlock& header, size_t offset, size_t digits, uint64_t value) {
  for (size_t i = digits; i-- > 0; value >>= 3) {
    header[offset + i] = static_cast<uint8_t>('0' + (value & 7));
  }
}

}  // namespace

TarHeaderBlock MakeTarHeader(std::string_view name, uint64_t size) {
  TarHeaderBlock header{};
  PutText(header, 0, name.substr(0, TAR_NAME_SIZE));
  PutOctal(header, 100, 7, 0644);  // mode
  PutOctal(header, 108, 7, 0);     // owner
  PutOctal(header, 116, 7, 0);     // group
  // Eleven digits and a NUL as tar writers store it; a member of 8 GiB or more takes all
  // twelve bytes, which the station reads as well.
  PutOctal(header, TAR_SIZE_OFFSET, size < ELEVEN_DIGIT_LIMIT ? 11 : 12, size);
  PutOctal(header, 136, 11, 0);  // modification time
  header[156] = '0';             // regular file
  PutText(header, 257,
          std::string_view("ustar\0"
                           "00",
                           8));
  SealTarHeader(header);
  return header;
}

void SealTarHeader(TarHeaderBlock& header) {
  std::memset(header.data() + CHECKSUM_OFFSET, ' ', CHECKSUM_SIZE);
  unsigned sum = 0;
  for (const uint8_t byte : header) sum += byte;
  PutOctal(header, CHECKSUM_OFFSET, 6, sum);
  header[CHECKSUM_OFFSET + 6] = '\0';
}

TarWriter::~TarWriter() {
  if (file_) fclose(file_);
}

bool TarWriter::Open(const std::string& path) {
  if (file_) fclose(file_);
  path_ = path;
  written_ = 0;
  file_ = fopen(path.c_str(), "wbe");
  if (!file_) return Fail(Format("cannot create %s: %s", path.c_str(), std::strerror(errno)));
  return true;
}

bool TarWriter::Fail(std::string message) {
  error_ = std::move(message);
  return false;
}

bool TarWriter::CheckName(std::string_view name) {
  const std::string shown(name);
  if (name.empty()) return Fail("a member name is empty");
  if (name.size() > TAR_MAX_NAME_LENGTH) {
    return Fail(
        Format("member name %s is longer than %zu bytes", shown.c_str(), TAR_MAX_NAME_LENGTH));
  }
  if (name.find('\0') != std::string_view::npos) {
    return Fail("a member name holds a NUL byte");
  }
  return true;
}

bool TarWriter::WriteRaw(std::string_view bytes) {
  if (!file_) return Fail("no archive is open");
  if (fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()) {
    return Fail(Format("cannot write %s: %s", path_.c_str(), std::strerror(errno)));
  }
  written_ += bytes.size();
  return true;
}

bool TarWriter::PadToBlock() {
  static const char zeros[TAR_BLOCK_SIZE] = {};
  const size_t tail = static_cast<size_t>(written_ % TAR_BLOCK_SIZE);
  return tail == 0 || WriteRaw(std::string_view(zeros, TAR_BLOCK_SIZE - tail));
}

bool TarWriter::AddBytes(std::string_view name, std::string_view data) {
  if (!CheckName(name)) return false;
  const TarHeaderBlock header = MakeTarHeader(name, data.size());
  return WriteRaw(std::string_view(reinterpret_cast<const char*>(header.data()), header.size())) &&
         WriteRaw(data) && PadToBlock();
}

bool TarWriter::AddFile(std::string_view name, const std::string& sourcePath) {
  if (!CheckName(name)) return false;
  FileByteSource source;
  if (!source.Open(sourcePath)) {
    return Fail(Format("cannot read %s: %s", sourcePath.c_str(),
                       errno == EINVAL ? "not a regular file" : std::strerror(errno)));
  }
  const uint64_t size = source.Length();
  if (size >= TWELVE_DIGIT_LIMIT) return Fail(Format("%s is too large", sourcePath.c_str()));
  const TarHeaderBlock header = MakeTarHeader(name, size);
  if (!WriteRaw(std::string_view(reinterpret_cast<const char*>(header.data()), header.size()))) {
    return false;
  }
  const auto buffer = std::make_unique<char[]>(COPY_CHUNK);
  for (uint64_t done = 0; done < size;) {
    const size_t chunk = static_cast<size_t>(std::min<uint64_t>(COPY_CHUNK, size - done));
    if (!source.ReadExactly(done, buffer.get(), chunk)) {
      return Fail(
          Format("%s changed or could not be read while it was archived", sourcePath.c_str()));
    }
    if (!WriteRaw(std::string_view(buffer.get(), chunk))) return false;
    done += chunk;
  }
  return PadToBlock();
}

bool TarWriter::Finish() {
  static const char endBlocks[2 * TAR_BLOCK_SIZE] = {};
  return PadToBlock() && WriteRaw(std::string_view(endBlocks, sizeof endBlocks)) && CloseAsIs();
}

bool TarWriter::CloseAsIs() {
  if (!file_) return Fail("no archive is open");
  const bool ok = fclose(file_) == 0;
  file_ = nullptr;
  if (!ok) return Fail(Format("cannot write %s: %s", path_.c_str(), std::strerror(errno)));
  return true;
}

}  // namespace mirk3::pack
