// Package selection: what the station does with a package the operator picks for a slot, by a
// package button, a drop on the window or a package option of mirk3-cli. A package whose name
// ends in "MD5" carries an MD5 trailer and is taken only when the trailer verifies; the check
// writes its progress as log lines of no port and, when it fails, shows the operator the error
// "md5 error! Binary is invalid". Other packages are taken as they are.
#pragma once

#include <string>
#include <string_view>

#include "app/station_view.h"
#include "engine/download_options.h"
#include "packages/md5_trailer.h"

namespace mirk3 {

// True when `path` names a package with an MD5 trailer: its last three characters are "MD5",
// ignoring case.
bool IsMd5Package(std::string_view path);

// The MD5 check of a picked package: its log lines go to `face` as lines of no port and, on
// failure, the error to the operator, and why it failed to `failure` when given. Only one
// check runs at a time in the process.
bool CheckPackageMd5(const std::string& path, StationView& face, Md5Failure* failure = nullptr);

// A package picked for `slot` (BL..UMS) into `chosen`, the slots' paths and check boxes: an MD5
// package is checked first. Taken: the path fills the slot and the slot is checked. Refused:
// the slot is emptied and unchecked. Returns whether the package was taken.
bool PickPackage(int slot, const std::string& path, DownloadOptions& chosen, StationView& face);

}  // namespace mirk3
