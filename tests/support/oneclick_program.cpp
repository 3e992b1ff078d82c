#include "support/oneclick_program.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <fstream>

#include "pack/oneclick_builder.h"
#include "packages/byte_source.h"
#include "packages/one_click_program.h"
#include "packages/tar_walk.h"

namespace mirk3::test {
namespace {

constexpr size_t INFLATED_SIZE_OFFSET = 500;
constexpr size_t DAMAGE_LENGTH = 16;

std::string ReadRange(const std::string& path, uint64_t offset, uint64_t length) {
  FileByteSource file;
  std::string bytes(length, '\0');
  if (!file.Open(path) || !file.ReadExactly(offset, bytes.data(), bytes.size())) {
    ADD_FAILURE() << "cannot read " << length << " bytes at " << offset << " of " << path;
    return {};
  }
  return bytes;
}

}  // namespace

OneClickTrailer WriteOneClickProgram(const std::string& outPath, const OneClickContents& contents) {
  pack::OneClickRequest request;
  request.programPath = contents.programPath;
  for (const OneClickSlotPackage& package : contents.packages) {
    request.packages.at(static_cast<size_t>(package.slot)) = {package.path, package.type};
  }
  request.pitPath = contents.pitPath;
  request.rePartition = contents.rePartition;
  request.autoReboot = contents.autoReboot;
  request.efsClear = contents.efsClear;
  request.bootUpdate = contents.bootUpdate;
  request.outPath = outPath;
  OneClickTrailer trailer;
  std::string error;
  if (!pack::BuildOneClick(request, trailer, error)) {
    ADD_FAILURE() << "cannot build " << outPath << ": " << error;
  }
  return trailer;
}

OneClickTrailer ReadOneClickTrailer(const std::string& path) {
  return mirk3::ReadOneClickTrailer(path).value_or(OneClickTrailer{});
}

std::vector<OneClickMember> OneClickMembers(const std::string& path, int slot) {
  const OneClickSlot record = ReadOneClickTrailer(path).slots.at(static_cast<size_t>(slot));
  std::vector<OneClickMember> members;
  FileByteSource file;
  if (!file.Open(path)) return members;
  uint64_t at = record.offset;
  const uint64_t end = uint64_t{record.offset} + record.length;
  while (at + TAR_BLOCK_SIZE <= end) {
    uint8_t header[TAR_BLOCK_SIZE];
    TarMember member;
    if (!file.ReadExactly(at, header, sizeof header) ||
        ParseTarHeader(header, member) != TarStep::Member) {
      break;
    }
    const auto* text = reinterpret_cast<const char*>(header);
    const auto inflated =
        ParseTarOctal(std::string_view(text + INFLATED_SIZE_OFFSET, TAR_SIZE_FIELD));
    members.push_back({member.name, at, at + TAR_BLOCK_SIZE, member.size, inflated.value_or(0)});
    at += TAR_BLOCK_SIZE + TarPaddedSize(member.size);
  }
  return members;
}

std::string OneClickMemberContents(const std::string& path, const OneClickMember& member,
                                   bool inflate) {
  const std::string stored = ReadRange(path, member.dataOffset, member.storedSize);
  if (!inflate) return stored;
  std::string contents(member.inflatedSize, '\0');
  uLongf length = static_cast<uLongf>(contents.size());
  const int result =
      uncompress(reinterpret_cast<Bytef*>(contents.data()), &length,
                 reinterpret_cast<const Bytef*>(stored.data()), static_cast<uLong>(stored.size()));
  if (result != Z_OK || length != contents.size()) {
    ADD_FAILURE() << member.name << " of " << path << " does not inflate: " << result;
  }
  return contents;
}

bool DamageOneClickMember(const std::string& path, int slot, const std::string& name) {
  for (const OneClickMember& member : OneClickMembers(path, slot)) {
    if (member.name != name || member.storedSize < DAMAGE_LENGTH) continue;
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    const auto at = static_cast<std::streamoff>(member.dataOffset + member.storedSize / 2);
    std::string bytes(DAMAGE_LENGTH, '\0');
    file.seekg(at);
    file.read(bytes.data(), DAMAGE_LENGTH);
    for (char& byte : bytes) byte = static_cast<char>(byte ^ 0xA5);
    file.seekp(at);
    file.write(bytes.data(), DAMAGE_LENGTH);
    return static_cast<bool>(file);
  }
  return false;
}

}  // namespace mirk3::test
