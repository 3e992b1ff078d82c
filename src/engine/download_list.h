// The home-binary filter: a package's "meta-data/download-list.txt" names the members to
// write; every other member of every chosen slot is dropped before anything is sent.
//
// The list is plain bytes up to its first NUL, one member name per line. Lines are separated
// by any run of CR and LF bytes, so there are no empty lines; nothing is trimmed, and names are
// compared byte for byte with the members' names.
#pragma once

#include <string>
#include <vector>

#include "engine/download_plan.h"

namespace mirk3 {

// The list's names in the order they stand.
std::vector<std::string> DownloadListNames(const std::string& text);

// Removes from `list` every entry whose name `names` does not hold; an entry without a name
// stays. Returns the names of the entries removed, in list order.
std::vector<std::string> KeepListedMembers(EntryList& list, const std::vector<std::string>& names);

}  // namespace mirk3
