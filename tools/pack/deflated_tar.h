// The tar form of a compressed One Click slot: every member's data is one zlib stream (zlib
// wrapper, 32 KiB window), its header's size field holds the stored (compressed) length and
// header bytes 500-511 hold the length once inflated, as octal text like the size field.
// Members of the "meta-data/" folder and partition tables (names ending in "PIT", any case)
// stay as they are: the station reads their bytes directly (content list, download list,
// table), and the signed content list names the digests of the uncompressed members, which the
// station does not check in One Click mode.
#pragma once

#include <string>
#include <string_view>

#include "pack/member_use.h"
#include "pack/partial_output.h"
#include "packages/byte_source.h"

namespace mirk3::pack {

inline constexpr size_t TAR_INFLATED_SIZE_OFFSET = 500;

// Appends to `out` the compressed form of the tar in `tar` (its walk ends at the end-of-archive
// block; anything after it, such as an MD5 trailer, is left out), ended by two zero blocks.
// `tarName` names the package in messages. On failure `error` says why.
bool WriteDeflatedTar(const ByteSource& tar, const std::string& tarName, PartialOutput& out,
                      std::string& error);

}  // namespace mirk3::pack
