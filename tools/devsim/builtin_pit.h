// The partition table an emulated phone carries unless it is given another: the usual members
// of a phone firmware, each in its own partition with a unique id.
#pragma once

#include <cstdint>
#include <vector>

#include "wire/pit_record.h"

namespace mirk3::devsim {

PitTable BuiltinPitTable();
std::vector<uint8_t> BuiltinPit();  // the table's bytes as the phone hands them out

}  // namespace mirk3::devsim
