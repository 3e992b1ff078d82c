// `mirk3-cli inspect`: what a download would do with the given packages, shown before any
// phone is connected. The packages take their slots, one engine runs the file analysis step
// as a worker's first step runs it, and the result is printed per slot: the members that
// would be sent with their offsets and sizes, the partition table found in the packages, the
// download list and what it drops, the total announced to the phone, the meta-data verdict
// and model, and the MD5 trailer verdict of every ".md5" package. Exit status: 0 when the
// analysis passes and the meta-data and trailers verify, 1 otherwise, 2 for a usage error.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "engine/download_options.h"

namespace mirk3 {

// What `inspect` was asked: the packages in their slots, or a One Click program, and a key.
struct InspectRequest {
  DownloadOptions options;
  std::string metaKeyFile;
  std::string oneClickProgram;
};

// The arguments read into `request`: the exit status when they decide it (help shown, a usage
// mistake, printed), nothing when the inspection goes on. No package is read; only this
// program's own file is looked at for packages it carries when none is given.
std::optional<int> ParseInspectArguments(const std::vector<std::string>& args,
                                         InspectRequest* request, std::ostream& out,
                                         std::ostream& err);

// `args` are the command's arguments, without the command word.
int RunInspectCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace mirk3
