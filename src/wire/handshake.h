// The four bytes each side says before the first request: the host greets, the boot loader in
// download mode answers. Both travel as bare ASCII, without a terminator.
#pragma once

#include <string_view>

namespace mirk3 {

inline constexpr char HANDSHAKE_HOST[] = "MIRK";    // host greeting
inline constexpr char HANDSHAKE_DEVICE[] = "TASH";  // boot loader answer
inline constexpr int HANDSHAKE_LENGTH = 4;

static_assert(std::string_view(HANDSHAKE_HOST).size() == HANDSHAKE_LENGTH);
static_assert(std::string_view(HANDSHAKE_DEVICE).size() == HANDSHAKE_LENGTH);

}  // namespace mirk3
