// The five package slots in their fixed order. The order is the same in the window, the run's
// options, the slot records of a One Click trailer and the order in which members are sent.
#pragma once

#include <array>

namespace mirk3 {

enum PackageSlot : int { BL = 0, AP = 1, CP = 2, CSC = 3, UMS = 4 };
inline constexpr int SLOT_COUNT = 5;
inline constexpr std::array<const char*, SLOT_COUNT> SLOT_NAMES = {"BL", "AP", "CP", "CSC", "UMS"};

}  // namespace mirk3
