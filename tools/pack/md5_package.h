// Makes ".tar.md5" packages: the tar followed by the line a common MD5 checksum tool prints
// for it, "<32 lowercase hex digits>  <file name>\n", the name without any folder.
#pragma once

#include <string>
#include <string_view>

namespace mirk3::pack {

// The trailer line for a tar whose digest is `digestHex` and whose file name is `tarName`.
std::string Md5TrailerLine(std::string_view digestHex, std::string_view tarName);

// Writes `tarPath` + ".md5": a copy of the tar and its trailer line, as a PartialOutput. On
// failure no output is left behind and `error` says why.
bool WriteMd5Package(const std::string& tarPath, std::string& error);

}  // namespace mirk3::pack
