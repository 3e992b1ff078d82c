// Symbolic links that a directory watcher must only ever see complete: a link is made under a
// temporary name beside its place and renamed into it, so a watcher of the directory sees the
// name appear (moved-to) only when it already points where it should. Removal takes only a link
// that still points where we made it point: a later run may have published the same name.
#pragma once

#include <string>

namespace mirk3::devsim {

// Publishes `path` -> `target`. A symbolic link already there (left by an earlier run) is
// replaced in the same step; anything else there is refused.
bool PublishLink(const std::string& target, const std::string& path, std::string* error);

// Removes `path` when it is a symbolic link to `target`; anything else is left alone.
void WithdrawLink(const std::string& target, const std::string& path);

}  // namespace mirk3::devsim
