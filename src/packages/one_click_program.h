// Whether a program file is a One Click program: one that carries its own packages and ends
// with a One Click trailer whose title switches the mode on.
#pragma once

#include <optional>
#include <string>

#include "wire/one_click_trailer.h"

namespace mirk3 {

// The trailer of the program file at `path` when it is a One Click program (its title
// matches); nothing for any other file or one that cannot be read.
std::optional<OneClickTrailer> ReadOneClickTrailer(const std::string& path);

}  // namespace mirk3
