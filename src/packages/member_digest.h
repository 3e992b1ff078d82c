// SHA-256 of a region of a package (one tar member's data), read in 1 MiB pieces so that
// members of any size are hashed in constant memory.
#pragma once

#include <cstdint>
#include <string>

#include "packages/byte_source.h"

namespace mirk3 {

inline constexpr size_t MEMBER_READ_SIZE = 1048576;

// The digest as 64 lowercase hex digits, or an empty text when the region cannot be read whole.
std::string MemberSha256Hex(const ByteSource& source, uint64_t offset, uint64_t size);

}  // namespace mirk3
