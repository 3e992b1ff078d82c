#include "pack/tar_writer.h"

#include <cstring>

#include "base/file.h"
#include "base/text.h"
#include "packages/byte_source.h"

namespace mirk3::pack {
namespace {

constexpr size_t CHECKSUM_OFFSET = 148;
constexpr size_t CHECKSUM_SIZE = 8;
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

bool TarWriter::Open(const std::string& path, const std::vector<std::string>& inputs) {
  error_.clear();
  return out_.Create(path, {.inputs = inputs});
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

bool TarWriter::WriteRaw(std::string_view bytes) { return out_.Write(bytes); }

bool TarWriter::PadToBlock() {
  static const char zeros[TAR_BLOCK_SIZE] = {};
  const size_t tail = static_cast<size_t>(out_.Position() % TAR_BLOCK_SIZE);
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
    return Fail("cannot read " + DescribeFileProblem(sourcePath, source.OpenError()));
  }
  const uint64_t size = source.Length();
  if (size >= TWELVE_DIGIT_LIMIT) return Fail(Format("%s is too large", sourcePath.c_str()));
  const TarHeaderBlock header = MakeTarHeader(name, size);
  if (!WriteRaw(std::string_view(reinterpret_cast<const char*>(header.data()), header.size()))) {
    return false;
  }
  return out_.CopyFrom(source, 0, size, sourcePath) && PadToBlock();
}

bool TarWriter::Finish() {
  static const char endBlocks[2 * TAR_BLOCK_SIZE] = {};
  return PadToBlock() && WriteRaw(std::string_view(endBlocks, sizeof endBlocks)) && CloseAsIs();
}

bool TarWriter::CloseAsIs() { return out_.Commit(); }

}  // namespace mirk3::pack
