// Writes plain ustar archives: one 512-byte header per member, its data padded to whole
// blocks, and two zero blocks at the end. Member names are stored in the 100-byte name field
// with a terminating NUL (the station reads only that field), so a name is at most 99 bytes.
//
// The archive is a PartialOutput: it appears at its path only once it is finished, and a path
// that is not a regular file or is one of the files it archives is refused.
//
// Besides the ordinary AddBytes/AddFile, the building blocks (MakeHeader, WriteRaw) are open
// so that tests can write archives with damaged or hostile headers.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "pack/partial_output.h"
#include "packages/tar_walk.h"

namespace mirk3::pack {

inline constexpr size_t TAR_MAX_NAME_LENGTH = TAR_NAME_SIZE - 1;

using TarHeaderBlock = std::array<uint8_t, TAR_BLOCK_SIZE>;

// A ustar header for a regular file `name` of `size` bytes (mode 0644, owner 0, time 0, so
// that archives are reproducible), with its checksum. The name is cut to 100 bytes; callers
// check its length first.
TarHeaderBlock MakeTarHeader(std::string_view name, uint64_t size);

// Recomputes the checksum field after a header was changed.
void SealTarHeader(TarHeaderBlock& header);

class TarWriter {
 public:
  // Starts an archive that will replace a regular file at `path` when it is finished;
  // `inputs` are the files it will take members from, which `path` must not be.
  bool Open(const std::string& path, const std::vector<std::string>& inputs = {});
  // Adds a member holding `data`.
  bool AddBytes(std::string_view name, std::string_view data);
  // Adds a member holding the content of the file at `sourcePath`.
  bool AddFile(std::string_view name, const std::string& sourcePath);
  // Writes bytes as they are; with PadToBlock the zeros up to the next 512-byte boundary.
  bool WriteRaw(std::string_view bytes);
  bool PadToBlock();
  // Writes the two end blocks and puts the archive in place.
  bool Finish();
  // Puts the archive in place without the end blocks (an archive cut short, for tests).
  bool CloseAsIs();

  // What went wrong, naming the file or member concerned.
  const std::string& Error() const { return error_.empty() ? out_.Error() : error_; }

 private:
  bool CheckName(std::string_view name);
  bool Fail(std::string message);

  PartialOutput out_;
  std::string error_;
};

}  // namespace mirk3::pack
