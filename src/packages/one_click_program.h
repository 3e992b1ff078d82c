// Whether a program file is a One Click program: one that carries its own packages and ends
// with a One Click trailer whose title switches the mode on. This is the one place the trailer
// is read from a program file.
#pragma once

#include <optional>
#include <string>

#include "base/file.h"
#include "wire/one_click_trailer.h"

namespace mirk3 {

// The trailer of the open program `file` when it is a One Click program (its title matches);
// nothing for any other file or one that cannot be read. The file stays open with its owner,
// for reading the packages the trailer points at.
std::optional<OneClickTrailer> ReadOneClickTrailer(const OpenedFile& file);

// The same for the program file at `path`, opened for the check only.
std::optional<OneClickTrailer> ReadOneClickTrailer(const std::string& path);

}  // namespace mirk3
