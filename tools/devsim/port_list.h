// Port lists as an operator writes them: "0-7,12" names ports 0 to 7 and 12.
#pragma once

#include <optional>
#include <string_view>
#include <vector>

namespace mirk3::devsim {

inline constexpr int MAX_PORT = 4095;

// The ports in ascending order without repeats; nullopt for a malformed list, a reversed
// range or a port above MAX_PORT.
std::optional<std::vector<int>> ParsePortList(std::string_view text);

}  // namespace mirk3::devsim
