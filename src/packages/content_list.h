// The signed, encrypted content list a package carries in its "meta-data/" folder, and the
// plain list inside it.
//
// The list member: a 256-byte RSA-2048 PKCS#1 v1.5 SHA-256 signature over the rest of the
// member, then the AES-128-CBC ciphertext (PKCS #7 padded) of the plain list. The member is
// below 128 KiB. The plain list: the entry count (1..100), the model line (at most 29 bytes),
// then one "<64 lowercase hex digits of SHA-256> <member name>" line per entry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace mirk3 {

inline constexpr size_t LIST_SIGNATURE_SIZE = 256;
inline constexpr uint64_t LIST_SIZE_LIMIT = 131072;  // a list member is below 128 KiB
inline constexpr int LIST_MAX_ENTRIES = 100;
inline constexpr size_t MODEL_MAX_LENGTH = 29;  // bytes, so a copy fits PackageModel
inline constexpr size_t PACKAGE_MODEL_SIZE = 30;
inline constexpr unsigned RSA_KEY_BITS = 2048;

// The fixed AES-128 key and CBC initialisation vector of every content list.
inline constexpr char LIST_KEY[] = "wbtqzmlpxnekvcrh";
inline constexpr char LIST_IV[] = "hsvjyqnzrtmpkwgd";
inline constexpr size_t LIST_KEY_SIZE = 16;

struct ContentList {
  int count = 0;
  std::string model;
  std::vector<std::string> names;    // second word of each entry line, in list order
  std::vector<std::string> digests;  // first word of each entry line; digests[i] is names[i]'s
};

// Parses a decrypted list. Line 1 is read as a number (leading blanks skipped, anything after
// the digits ignored); line 2 is the model, verbatim up to the line feed; then `count` entry
// lines, each split into two blank-separated words (a missing word is empty). Lines after the
// last entry are ignored. False when the count is not 1..100 or fewer entry lines follow.
bool ParseContentList(std::string_view plain, ContentList& list);

}  // namespace mirk3
