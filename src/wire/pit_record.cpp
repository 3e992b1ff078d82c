#include "wire/pit_record.h"

#include <algorithm>

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
  const uint32_t words[PIT_ENTRY_WORDS] = {
      entryKind,  storageKind, static_cast<uint32_t>(partitionId),
      attributes, word4,       blockParam,
      word6,      word7,       word8};
  for (int i = 0; i < PIT_ENTRY_WORDS; ++i) PutLe32(bytes + 4 * i, words[i]);
  std::copy_n(partitionName, PIT_NAME_SIZE, bytes + PIT_PARTITION_NAME_OFFSET);
  std::copy_n(fileName, PIT_NAME_SIZE, bytes + PIT_FILE_NAME_OFFSET);
  std::copy_n(auxName, PIT_NAME_SIZE, bytes + PIT_AUX_NAME_OFFSET);
}

PitEntry PitEntry::Decode(const uint8_t* bytes) {
  uint32_t words[PIT_ENTRY_WORDS];
  for (int i = 0; i < PIT_ENTRY_WORDS; ++i) words[i] = GetLe32(bytes + 4 * i);
  PitEntry entry;
  entry.entryKind = words[0];
  entry.storageKind = words[1];
  entry.partitionId = static_cast<int32_t>(words[2]);
  entry.attributes = words[3];
  entry.word4 = words[4];
  entry.blockParam = words[5];
  entry.word6 = words[6];
  entry.word7 = words[7];
  entry.word8 = words[8];
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

}  // namespace mirk3
