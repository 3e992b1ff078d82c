#include "engine/pit.h"

#include <algorithm>

#include "base/file.h"
#include "base/le.h"
#include "base/text.h"

namespace mirk3 {

void PitHeader::Encode(uint8_t* bytes) const {
  for (int i = 0; i < PIT_HEADER_WORDS; ++i) PutLe32(bytes + 4 * i, words[i]);
}

PitHeader PitHeader::Decode(const uint8_t* bytes) {
  PitHeader header;
  for (int i = 0; i < PIT_HEADER_WORDS; ++i) header.words[i] = GetLe32(bytes + 4 * i);
  return header;
}

std::string_view PitEntry::PartitionName() const { return FieldText(partitionName, PIT_NAME_SIZE); }
std::string_view PitEntry::FileName() const { return FieldText(fileName, PIT_NAME_SIZE); }
std::string_view PitEntry::AuxName() const { return FieldText(auxName, PIT_NAME_SIZE); }

void PitEntry::SetPartitionName(std::string_view name) {
  CopyToField(partitionName, PIT_NAME_SIZE, name);
}
void PitEntry::SetFileName(std::string_view name) { CopyToField(fileName, PIT_NAME_SIZE, name); }
void PitEntry::SetAuxName(std::string_view name) { CopyToField(auxName, PIT_NAME_SIZE, name); }

void PitEntry::Encode(uint8_t* bytes) const {
  const uint32_t words[9] = {entryKind,  storageKind, static_cast<uint32_t>(partitionId),
                             attributes, word4,       blockParam,
                             word6,      word7,       word8};
  for (int i = 0; i < 9; ++i) PutLe32(bytes + 4 * i, words[i]);
  std::copy_n(partitionName, PIT_NAME_SIZE, bytes + PIT_PARTITION_NAME_OFFSET);
  std::copy_n(fileName, PIT_NAME_SIZE, bytes + PIT_FILE_NAME_OFFSET);
  std::copy_n(auxName, PIT_NAME_SIZE, bytes + PIT_AUX_NAME_OFFSET);
}

PitEntry PitEntry::Decode(const uint8_t* bytes) {
  PitEntry entry;
  entry.entryKind = GetLe32(bytes);
  entry.storageKind = GetLe32(bytes + 4);
  entry.partitionId = GetLe32s(bytes + 8);
  entry.attributes = GetLe32(bytes + 12);
  entry.word4 = GetLe32(bytes + 16);
  entry.blockParam = GetLe32(bytes + 20);
  entry.word6 = GetLe32(bytes + 24);
  entry.word7 = GetLe32(bytes + 28);
  entry.word8 = GetLe32(bytes + 32);
  std::copy_n(bytes + PIT_PARTITION_NAME_OFFSET, PIT_NAME_SIZE, entry.partitionName);
  std::copy_n(bytes + PIT_FILE_NAME_OFFSET, PIT_NAME_SIZE, entry.fileName);
  std::copy_n(bytes + PIT_AUX_NAME_OFFSET, PIT_NAME_SIZE, entry.auxName);
  return entry;
}

const PitEntry* PitTable::FindById(int32_t partitionId) const {
  for (const PitEntry& entry : entries) {
    if (entry.partitionId == partitionId) return &entry;
  }
  return nullptr;
}

PitTable ParsePitTable(const uint8_t* bytes, size_t size) {
  PitTable table;
  if (bytes == nullptr || size < PIT_HEADER_SIZE) return table;
  table.header = PitHeader::Decode(bytes);
  const int32_t claimed = table.header.EntryCount();
  if (claimed <= 0) return table;
  const size_t fit = (size - PIT_HEADER_SIZE) / PIT_ENTRY_SIZE;
  const size_t count = std::min(fit, static_cast<size_t>(claimed));
  table.entries.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    table.entries.push_back(PitEntry::Decode(bytes + PIT_HEADER_SIZE + PIT_ENTRY_SIZE * i));
  }
  return table;
}

std::vector<uint8_t> EncodePitTable(const PitTable& table) {
  std::vector<uint8_t> bytes(PIT_HEADER_SIZE + PIT_ENTRY_SIZE * table.entries.size());
  PitHeader header = table.header;
  header.words[PIT_HEADER_COUNT_WORD] = static_cast<uint32_t>(table.entries.size());
  header.Encode(bytes.data());
  for (size_t i = 0; i < table.entries.size(); ++i) {
    table.entries[i].Encode(bytes.data() + PIT_HEADER_SIZE + PIT_ENTRY_SIZE * i);
  }
  return bytes;
}

std::string PitTableProblem(const uint8_t* head, uint64_t size) {
  const auto bytes = static_cast<unsigned long long>(size);
  if (size < PIT_HEADER_SIZE) {
    return Format("not a partition table: %llu bytes, shorter than its %d-byte header", bytes,
                  PIT_HEADER_SIZE);
  }
  const int32_t count = PitHeader::Decode(head).EntryCount();
  if (size > MAX_PIT_SIZE) {
    return Format(
        "not a partition table: %llu bytes (%d entries counted), more than the %llu "
        "any table has",
        bytes, count, static_cast<unsigned long long>(MAX_PIT_SIZE));
  }
  if (count <= 0) return Format("not a partition table: %llu bytes, %d entries", bytes, count);
  const uint64_t needed = PIT_HEADER_SIZE + uint64_t{PIT_ENTRY_SIZE} * static_cast<uint32_t>(count);
  if (needed > size) {
    return Format("not a partition table: %llu bytes, too few for its %d entries (%llu bytes)",
                  bytes, count, static_cast<unsigned long long>(needed));
  }
  return "";
}

PitFileRead ReadPitTableAt(int fd, uint64_t offset, uint64_t size) {
  using Outcome = PitFileRead::Outcome;
  PitFileRead read;
  uint8_t head[PIT_HEADER_SIZE] = {};
  const auto headSize = static_cast<size_t>(std::min<uint64_t>(size, PIT_HEADER_SIZE));
  if (!ReadExactAt(fd, head, headSize, offset)) {
    read.problem = "cannot be read";
    return read;
  }
  read.problem = PitTableProblem(head, size);
  if (!read.problem.empty()) {
    read.outcome = Outcome::NotATable;
    return read;
  }
  read.bytes.resize(static_cast<size_t>(size));
  if (!ReadExactAt(fd, read.bytes.data(), read.bytes.size(), offset)) {
    read.bytes.clear();
    read.problem = "cannot be read whole";
    return read;
  }
  read.outcome = Outcome::Table;
  return read;
}

}  // namespace mirk3
