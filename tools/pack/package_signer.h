// Signs a package: writes a copy of a tar with a signed, encrypted content list added under
// "meta-data/" that names every other member with the SHA-256 of its data and the model the
// package is built for. An earlier content list in the input is replaced; other members of
// the meta-data folder (a download list, say) are kept and, like the list, not listed.
#pragma once

#include <string>

namespace mirk3::pack {

inline constexpr char DEFAULT_LIST_NAME[] = "meta-data/fota.mf";

struct SignRequest {
  std::string privateKeyText;  // base64 PKCS #8 of the maker's RSA-2048 key
  std::string model;           // the model line, 1 to 29 bytes, one line
  std::string inPath;
  std::string outPath;
  std::string keyPath;  // where the key was read from, which the output must not replace
  std::string listName = DEFAULT_LIST_NAME;
};

// Writes the signed package, as a PartialOutput. On failure nothing is left at the output path
// and `error` says why.
bool SignPackage(const SignRequest& request, std::string& error);

}  // namespace mirk3::pack
