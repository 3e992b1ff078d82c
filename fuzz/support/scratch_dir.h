// One private folder per fuzzing process for targets that must hand their input to code that
// reads files: made on first use, emptied and removed when the process exits. Nothing a target
// does writes outside it.
#pragma once

#include <cstddef>
#include <string>

namespace mirk3::fuzz {

// The folder, without a trailing '/'.
const std::string& ScratchDir();

// ScratchDir()/name, after writing `size` bytes into it. The file is overwritten in place and
// cut to size: a file emptied by O_TRUNC is flushed to disk at every close, which would make
// each input wait for the disk.
std::string WriteScratchFile(const std::string& name, const void* data, size_t size);

}  // namespace mirk3::fuzz
