// The rules of package selection that do not depend on the station's state: which names carry an
// MD5 trailer, which package slot a dropped file fills, what Start renames a compressed package
// to, and the size text of the chosen packages.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "packages/md5_trailer.h"
#include "wire/package_slot.h"

namespace mirk3 {

// True when `path` names a package with an MD5 trailer: its last three characters are "MD5",
// ignoring case.
bool IsMd5Package(std::string_view path);

// The MD5 check of a picked ".md5" package with the window's log lines, each handed to `log`
// (a line of no port), and on failure the error box handed to `message` (text, title); why it
// failed goes to `failure` when given. Only one check runs at a time in the process.
bool CheckPackageMd5(const std::string& path, const std::function<void(const std::string&)>& log,
                     const std::function<void(const std::string&, const std::string&)>& message,
                     Md5Failure* failure = nullptr);

// The slot (BL..CSC) a dropped file fills by its name, or -1 when it fills none: only ".md5"
// and ".tar" files are taken, and their names are compared case-sensitively ("BL", "AP" or
// "ALL", "CP", "CSC" or "HOME_CSC" at the start). UMS and the PIT are never filled by a drop.
int DropSlotOf(std::string_view path);

// The name Start runs a compressed package under: "a.tar.gz" -> "a.tar", "a.TGZ" -> "a.tar",
// "a.gz" -> "a"; any other name is returned as it is.
std::string NormalizedPackageName(std::string_view path);

// "%.1fMB" of the total size of the files; a file that cannot be read counts 0.
std::string BinarySizeText(const std::array<std::string, SLOT_COUNT>& paths,
                           const std::array<int32_t, SLOT_COUNT>& used);

}  // namespace mirk3
