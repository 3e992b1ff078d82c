// Seals a plain content list into the member a package carries in "meta-data/": the list is
// encrypted with the fixed list key and IV (AES-128-CBC), and the ciphertext is signed with
// the maker's RSA-2048 private key (PKCS#1 v1.5, SHA-256), signature first. The plain text is
// sealed as given, so tests can seal lists the station must refuse.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace mirk3::pack {

struct ListEntry {
  std::string digestHex;  // SHA-256 of the member's data, 64 lowercase hex digits
  std::string name;       // the member's name as in its tar header
};

// "<count>\n<model>\n<digest>  <name>\n"... as the station parses it.
std::string FormatContentList(std::string_view model, const std::vector<ListEntry>& entries);

// AES-128-CBC ciphertext of `plain` under the list key and IV; with `pkcs7Padding` off the
// plain text must already be whole 16-byte blocks.
std::string EncryptContentList(std::string_view plain, bool pkcs7Padding = true);

// `body` preceded by its 256-byte signature made with `privateText`. False with a message in
// `error` when the key text is not an RSA-2048 private key.
bool SignListBody(std::string_view body, const std::string& privateText, std::string& member,
                  std::string& error);

// Encrypts and signs: the whole list member.
bool SealContentList(std::string_view plain, const std::string& privateText, std::string& member,
                     std::string& error);

}  // namespace mirk3::pack
