// The file-open dialogs of the package pickers: one name filter per package, in Qt's syntax,
// with the patterns the station has always offered.
#pragma once

#include "wire/package_slot.h"

namespace mirk3 {

inline constexpr const char* PACKAGE_FILTERS[SLOT_COUNT] = {
    "BL File (*.tar *.md5 *.gz *.tgz)",              // BL
    "AP File (*.tar *.md5 *.smd *.gz *.tgz)",        // AP
    "CP File (*.bin *.tar *.md5 *.smd *.gz *.tgz)",  // CP
    "CSC File (*.tar *.md5 *.gz *.tgz)",             // CSC
    "UMS File (*.tar *.md5 *.gz *.tgz)",             // UMS
};
inline constexpr const char PIT_FILTER[] = "PIT File (*.pit *.xml)";

}  // namespace mirk3
