#include "pack/deflated_tar.h"

#include <zlib.h>

#include <algorithm>
#include <memory>

#include "pack/tar_writer.h"
#include "packages/tar_walk.h"

namespace mirk3::pack {
namespace {

constexpr size_t INPUT_CHUNK = 1048576;
constexpr size_t OUTPUT_CHUNK = 262144;
constexpr uint64_t ELEVEN_DIGIT_LIMIT = uint64_t{1} << 33;  // 8^11

// A size field as tar writers store it: eleven octal digits and a NUL, or twelve digits for
// sizes of 8 GiB and more.
void PutSizeField(TarHeaderBlock& header, size_t offset, uint64_t value) {
  const size_t digits = value < ELEVEN_DIGIT_LIMIT ? 11 : 12;
  for (size_t i = digits; i-- > 0; value >>= 3) {
    header[offset + i] = static_cast<uint8_t>('0' + (value & 7));
  }
  if (digits == 11) header[offset + 11] = '\0';
}

class Deflater {
 public:
  Deflater() { ready_ = deflateInit(&stream_, Z_DEFAULT_COMPRESSION) == Z_OK; }
  ~Deflater() {
    if (ready_) deflateEnd(&stream_);
  }
  Deflater(const Deflater&) = delete;
  Deflater& operator=(const Deflater&) = delete;

  bool Ready() const { return ready_; }

  // Compresses `count` bytes; `last` ends the stream. Writes all output made so far to `out`.
  bool Put(const uint8_t* bytes, size_t count, bool last, PartialOutput& out) {
    stream_.next_in = const_cast<Bytef*>(bytes);
    stream_.avail_in = static_cast<uInt>(count);
    do {
      stream_.next_out = output_.get();
      stream_.avail_out = OUTPUT_CHUNK;
      deflate(&stream_, last ? Z_FINISH : Z_NO_FLUSH);
      if (!out.Write(output_.get(), OUTPUT_CHUNK - stream_.avail_out)) return false;
    } while (stream_.avail_out == 0);
    return true;
  }

 private:
  z_stream stream_{};
  bool ready_ = false;
  std::unique_ptr<uint8_t[]> output_ = std::make_unique<uint8_t[]>(OUTPUT_CHUNK);
};

// Writes the member's data as one zlib stream; `stored` receives its length.
bool DeflateMember(const ByteSource& tar, const TarMember& member, PartialOutput& out,
                   uint64_t* stored, std::string& error) {
  Deflater deflater;
  if (!deflater.Ready()) {
    error = "there is not enough memory to compress " + member.name;
    return false;
  }
  const uint64_t start = out.Position();
  const auto input = std::make_unique<uint8_t[]>(INPUT_CHUNK);
  uint64_t done = 0;
  bool last = false;
  while (!last) {
    const size_t chunk = static_cast<size_t>(std::min<uint64_t>(INPUT_CHUNK, member.size - done));
    if (!tar.ReadExactly(member.dataOffset + done, input.get(), chunk)) {
      error = "the member " + member.name + " could not be read";
      return false;
    }
    done += chunk;
    last = done == member.size;
    if (!deflater.Put(input.get(), chunk, last, out)) {
      error = out.Error();
      return false;
    }
  }
  *stored = out.Position() - start;
  return true;
}

bool CopyMember(const ByteSource& tar, const TarMember& member, const TarHeaderBlock& header,
                PartialOutput& out, const std::string& tarName, std::string& error) {
  if (!out.Write(header.data(), header.size()) ||
      !out.CopyFrom(tar, member.dataOffset, member.size, tarName)) {
    error = out.Error();
    return false;
  }
  return true;
}

bool CompressMember(const ByteSource& tar, const TarMember& member, TarHeaderBlock header,
                    PartialOutput& out, std::string& error) {
  const uint64_t headerAt = out.Position();
  if (!out.Write(header.data(), header.size())) {  // rewritten once the stored size is known
    error = out.Error();
    return false;
  }
  uint64_t stored = 0;
  if (!DeflateMember(tar, member, out, &stored, error)) return false;
  PutSizeField(header, TAR_SIZE_OFFSET, stored);
  PutSizeField(header, TAR_INFLATED_SIZE_OFFSET, member.size);
  SealTarHeader(header);
  if (!out.WriteAt(headerAt, header.data(), header.size())) {
    error = out.Error();
    return false;
  }
  return true;
}

// Pads the archive that began at `archiveStart` to a whole block.
bool PadToBlock(PartialOutput& out, uint64_t archiveStart, std::string& error) {
  static const uint8_t zeros[TAR_BLOCK_SIZE] = {};
  const size_t tail = static_cast<size_t>((out.Position() - archiveStart) % TAR_BLOCK_SIZE);
  if (tail == 0 || out.Write(zeros, TAR_BLOCK_SIZE - tail)) return true;
  error = out.Error();
  return false;
}

}  // namespace

bool WriteDeflatedTar(const ByteSource& tar, const std::string& tarName, PartialOutput& out,
                      std::string& error) {
  const uint64_t archiveStart = out.Position();
  TarWalk walk(tar, 0);
  TarMember member;
  TarStep step;
  while ((step = walk.Next(member)) == TarStep::Member) {
    TarHeaderBlock header;
    if (!tar.ReadExactly(member.dataOffset - TAR_BLOCK_SIZE, header.data(), header.size())) {
      error = tarName + " could not be read";
      return false;
    }
    const bool ok = UseOfMember(member.name) == MemberUse::Firmware
                        ? CompressMember(tar, member, header, out, error)
                        : CopyMember(tar, member, header, out, tarName, error);
    if (!ok || !PadToBlock(out, archiveStart, error)) return false;
  }
  if (step == TarStep::Broken) {
    error = tarName + " is not a tar archive the station can read";
    return false;
  }
  static const uint8_t endBlocks[2 * TAR_BLOCK_SIZE] = {};
  if (!out.Write(endBlocks, sizeof endBlocks)) {
    error = out.Error();
    return false;
  }
  return true;
}

}  // namespace mirk3::pack
