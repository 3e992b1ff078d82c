// The package commands of mirk3-cli. `md5` checks ".tar.md5" trailers the way the window does
// when a package is picked, with the same log lines; `verify` runs the meta-data check over
// packages as one download would, all of them sharing one model. Both say why a package
// failed: no trailer, a digest that differs, no content list, a signature this key does not
// verify, a model that differs. Exit status: 0 when every file passes, 1 when any fails, 2 for
// a usage error.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace mirk3 {

// `args` are the command's arguments, without the command word: FILE...
int RunMd5Command(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
// The arguments read into `files`: the exit status when they decide it (help shown, a usage
// mistake, printed), nothing when the check goes on. Nothing is read but the arguments.
std::optional<int> ParseMd5Arguments(const std::vector<std::string>& args,
                                     std::vector<std::string>* files, std::ostream& out,
                                     std::ostream& err);

// `args` are the command's arguments, without the command word: [--meta-key FILE] FILE...
int RunVerifyCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

struct VerifyRequest {
  std::string keyFile;  // empty: the built-in key
  std::vector<std::string> files;
};
// As ParseMd5Arguments, for `verify`.
std::optional<int> ParseVerifyArguments(const std::vector<std::string>& args,
                                        VerifyRequest* request, std::ostream& out,
                                        std::ostream& err);

}  // namespace mirk3
