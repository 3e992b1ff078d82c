// How the station treats a tar member by its name, and which names it refuses: a member it
// sends keeps its name in a 32-byte field with the NUL, so the longest name it takes for one is
// 31 bytes; members it only reads (the meta-data folder, a partition table) have no such limit.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "packages/download_entry.h"

namespace mirk3::pack {

inline constexpr size_t MAX_SENT_NAME_LENGTH = ENTRY_NAME_SIZE - 1;

enum class MemberUse {
  MetaData,  // a name holding "meta-data/" (or "meta-data\"): read by the station, never sent
  Pit,       // a name ending in "Pit", any case: the partition table
  Firmware,  // everything else: sent to the phone
};

MemberUse UseOfMember(std::string_view name);

// Why the station would refuse a member named `name`; "" when it takes it.
std::string StationNameProblem(std::string_view name);

}  // namespace mirk3::pack
