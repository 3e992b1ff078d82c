#include "pack/oneclick_builder.h"

#include <cstring>
#include <memory>
#include <vector>

#include "base/file.h"
#include "base/text.h"
#include "pack/deflated_tar.h"
#include "pack/partial_output.h"
#include "packages/byte_source.h"
#include "packages/md5_trailer.h"
#include "packages/tar_walk.h"

namespace mirk3::pack {
namespace {

using ull = unsigned long long;

constexpr char ELF_MAGIC[4] = {'\x7f', 'E', 'L', 'F'};
constexpr uint64_t EMPTY_TAR_SIZE = 2 * TAR_BLOCK_SIZE;

// The first `length` bytes of another source: the tar part of a ".tar.md5".
class PrefixSource : public ByteSource {
 public:
  PrefixSource(const ByteSource& inner, uint64_t length) : inner_(inner), length_(length) {}
  uint64_t Length() const override { return length_; }
  size_t ReadAt(uint64_t position, void* out, size_t length) const override {
    if (position >= length_) return 0;
    return inner_.ReadAt(position, out,
                         static_cast<size_t>(std::min<uint64_t>(length, length_ - position)));
  }

 private:
  const ByteSource& inner_;
  uint64_t length_;
};

struct SlotInput {
  int slot = 0;
  std::string path;
  int16_t type = 0;
  std::unique_ptr<FileByteSource> file;
  uint64_t tarLength = 0;  // without an MD5 trailer
};

bool EndsWithIgnoreCase(std::string_view text, std::string_view ending) {
  return text.size() >= ending.size() &&
         EqualsIgnoreCase(text.substr(text.size() - ending.size()), ending);
}

bool OpenInput(const std::string& path, FileByteSource& file, std::string& error) {
  if (file.Open(path)) return true;
  error = "cannot read " + DescribeFileProblem(path, file.OpenError());
  return false;
}

bool CheckProgram(const std::string& path, const FileByteSource& program, std::string& error) {
  char magic[4] = {};
  if (!program.ReadExactly(0, magic, sizeof magic) ||
      std::memcmp(magic, ELF_MAGIC, sizeof magic) != 0) {
    error = path + " is not a program (it has no ELF header)";
    return false;
  }
  if (program.Length() < ONECLICK_TRAILER_SIZE) return true;
  uint8_t tail[ONECLICK_TRAILER_SIZE];
  if (!program.ReadExactly(program.Length() - sizeof tail, tail, sizeof tail)) {
    error = "cannot read " + path;
    return false;
  }
  if (OneClickTrailer::Parse(tail).TitleMatches()) {
    error = path + " is a One Click program already; build from the plain station program";
    return false;
  }
  return true;
}

// Walks the tar as the station will; refuses what the station would refuse on every phone.
bool CheckMembers(const ByteSource& tar, const std::string& path, std::string& error) {
  TarWalk walk(tar, 0);
  TarMember member;
  TarStep step;
  while ((step = walk.Next(member)) == TarStep::Member) {
    const std::string problem = StationNameProblem(member.name);
    if (!problem.empty()) {
      error = path + ": " + problem;
      return false;
    }
  }
  if (step == TarStep::Broken) {
    error = path + " is not a tar archive the station can read";
    return false;
  }
  return true;
}

bool PrepareSlot(int slot, const OneClickPackage& package, SlotInput& input, std::string& error) {
  input.slot = slot;
  input.path = package.path;
  input.type = package.type != 0 ? package.type : DefaultOneClickType(package.path);
  const bool md5Package = EndsWithIgnoreCase(package.path, ".tar.md5");
  if (input.type != ONECLICK_TAR && input.type != ONECLICK_TAR_MD5 &&
      input.type != ONECLICK_TAR_DEFLATED) {
    error = Format("%s: the slot type %d is not 1, 3 or 4", SLOT_NAMES[slot], input.type);
    return false;
  }
  if (input.type == ONECLICK_TAR_MD5 && !md5Package) {
    error = Format("%s: type 3 takes a .tar.md5 package, not %s", SLOT_NAMES[slot],
                   package.path.c_str());
    return false;
  }
  input.file = std::make_unique<FileByteSource>();
  if (!OpenInput(package.path, *input.file, error)) return false;
  input.tarLength = input.file->Length();
  if (md5Package) {
    const auto tarLength = Md5TarLength(input.file->Length(), PathFileName(package.path).size());
    if (!tarLength || !VerifyMd5Trailer(package.path)) {
      error = package.path + " does not match its MD5 trailer";
      return false;
    }
    input.tarLength = *tarLength;
  }
  return CheckMembers(PrefixSource(*input.file, input.tarLength), package.path, error);
}

std::string TooLarge(uint64_t limit) {
  return Format(
      "the program, packages and partition table take more than the %llu bytes a One Click "
      "trailer can describe",
      static_cast<ull>(limit));
}

// Every file the program is made of, which the output must not replace.
std::vector<std::string> Inputs(const OneClickRequest& request) {
  std::vector<std::string> inputs = {request.programPath, request.pitPath};
  for (const OneClickPackage& package : request.packages) inputs.push_back(package.path);
  return inputs;
}

class Builder {
 public:
  Builder(const OneClickRequest& request, OneClickTrailer& trailer, std::string& error)
      : request_(request), trailer_(trailer), error_(error) {}

  bool Run() {
    if (out_.Create(request_.outPath, {.mode = 0755, .inputs = Inputs(request_)}) && OpenInputs() &&
        CheckSize() && Write()) {
      return true;
    }
    if (error_.empty()) error_ = out_.Error();
    return false;
  }

 private:
  bool OpenInputs() {
    if (!OpenInput(request_.programPath, program_, error_) ||
        !CheckProgram(request_.programPath, program_, error_)) {
      return false;
    }
    for (int slot = 0; slot < SLOT_COUNT; ++slot) {
      if (request_.packages[slot].path.empty()) continue;
      slots_.emplace_back();
      if (!PrepareSlot(slot, request_.packages[slot], slots_.back(), error_)) return false;
    }
    if (request_.pitPath.empty()) return true;
    if (!OpenInput(request_.pitPath, pit_, error_)) return false;
    if (pit_.Length() == 0) {
      error_ = "the partition table " + request_.pitPath + " is empty";
      return false;
    }
    return true;
  }

  // What is known before writing: a compressed slot takes at least its end blocks.
  bool CheckSize() {
    uint64_t total = program_.Length() + (request_.pitPath.empty() ? 0 : pit_.Length());
    for (const SlotInput& input : slots_) {
      total += input.type == ONECLICK_TAR_DEFLATED ? EMPTY_TAR_SIZE : input.file->Length();
    }
    if (total <= request_.contentLimit) return true;
    error_ = TooLarge(request_.contentLimit);
    return false;
  }

  bool Write() {
    out_.SetLimit(request_.contentLimit);
    bool ok = out_.CopyFrom(program_, 0, program_.Length(), request_.programPath);
    for (const SlotInput& input : slots_) ok = ok && WriteSlot(input);
    ok = ok && WritePit() && WriteTrailer() && out_.Commit();
    if (!ok && out_.TooLarge()) error_ = TooLarge(request_.contentLimit);
    return ok;
  }

  bool WriteTrailer() {
    trailer_.title = std::u16string(ONECLICK_TITLE, ONECLICK_TITLE + std::strlen(ONECLICK_TITLE));
    trailer_.rePartition = request_.rePartition ? 1 : 0;
    trailer_.autoReboot = request_.autoReboot ? 1 : 0;
    trailer_.phoneEfsClear = request_.efsClear ? 1 : 0;
    trailer_.phoneBootUpdate = request_.bootUpdate ? 1 : 0;
    const auto bytes = trailer_.Encode();
    out_.SetLimit(UINT64_MAX);  // the limit is on what the trailer describes, not on itself
    return out_.Write(bytes.data(), bytes.size());
  }

  bool WriteSlot(const SlotInput& input) {
    const uint64_t offset = out_.Position();
    const bool ok =
        input.type == ONECLICK_TAR_DEFLATED
            ? WriteDeflatedTar(PrefixSource(*input.file, input.tarLength), input.path, out_, error_)
            : out_.CopyFrom(*input.file, 0, input.file->Length(), input.path);
    if (!ok) return false;
    OneClickSlot& slot = trailer_.slots[input.slot];
    slot.offset = static_cast<uint32_t>(offset);
    slot.length = static_cast<uint32_t>(out_.Position() - offset);
    slot.type = input.type;
    return true;
  }

  bool WritePit() {
    if (request_.pitPath.empty()) return true;
    const uint64_t offset = out_.Position();
    if (!out_.CopyFrom(pit_, 0, pit_.Length(), request_.pitPath)) return false;
    trailer_.pitOffset = static_cast<uint32_t>(offset);
    trailer_.pitSize = static_cast<uint32_t>(pit_.Length());
    return true;
  }

  const OneClickRequest& request_;
  OneClickTrailer& trailer_;
  std::string& error_;
  FileByteSource program_;
  FileByteSource pit_;
  std::vector<SlotInput> slots_;
  PartialOutput out_;
};

}  // namespace

int16_t DefaultOneClickType(std::string_view path) {
  return EndsWithIgnoreCase(path, ".tar.md5") ? ONECLICK_TAR_MD5 : ONECLICK_TAR;
}

bool BuildOneClick(const OneClickRequest& request, OneClickTrailer& trailer, std::string& error) {
  trailer = OneClickTrailer{};
  error.clear();
  if (request.programPath.empty() || request.outPath.empty()) {
    error = "a One Click program needs a station program and an output file";
    return false;
  }
  Builder builder(request, trailer, error);
  if (builder.Run()) return true;
  trailer = OneClickTrailer{};
  return false;
}

}  // namespace mirk3::pack
