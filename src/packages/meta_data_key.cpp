#include "packages/meta_data_key.h"

#include <cryptopp/base64.h>
#include <cryptopp/filters.h>
#include <cryptopp/rsa.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <string_view>

#include "base/text.h"
#include "packages/byte_source.h"
#include "packages/content_list.h"

namespace mirk3 {
namespace {

// Far above the 399 characters of a key text; a larger file is not a key.
constexpr uint64_t KEY_FILE_LIMIT = 65536;

constexpr std::string_view PEM_BEGIN = "-----BEGIN ";
constexpr std::string_view PEM_DASHES = "-----";
constexpr std::string_view PEM_PUBLIC_KEY = "PUBLIC KEY";
constexpr std::string_view PEM_END = "-----END PUBLIC KEY-----";

// What a key file's PEM block holds: nothing when the file has none, else its base64 or why
// it cannot be taken.
struct PemBlock {
  bool present = false;
  std::string base64;
  std::string why;  // empty when the block is a public key's
};

PemBlock PemPublicKeyBlock(std::string_view text) {
  const size_t begin = text.find(PEM_BEGIN);
  if (begin == std::string_view::npos) return {};
  const size_t labelStart = begin + PEM_BEGIN.size();
  const size_t labelEnd = text.find(PEM_DASHES, labelStart);
  if (labelEnd == std::string_view::npos) {
    return {true, "", "its PEM begin line does not end in -----"};
  }
  const std::string_view label = text.substr(labelStart, labelEnd - labelStart);
  if (label != PEM_PUBLIC_KEY) {
    return {true, "",
            "it holds a PEM block of the kind " + QuotedText(label) +
                ", not \"PUBLIC KEY\" (an X.509 SubjectPublicKeyInfo)"};
  }
  const size_t bodyStart = labelEnd + PEM_DASHES.size();
  const size_t end = text.find(PEM_END, bodyStart);
  if (end == std::string_view::npos) {
    return {true, "", "its PEM block has no line " + std::string(PEM_END)};
  }
  return {true, std::string(text.substr(bodyStart, end - bodyStart)), ""};
}

// The key text of a key file's contents, PEM or base64 DER; false with the reason in `why`.
bool KeyTextOf(const std::string& contents, std::string& keyText, std::string& why) {
  PemBlock pem = PemPublicKeyBlock(contents);
  if (!pem.why.empty()) {
    why = std::move(pem.why);
    return false;
  }
  std::string text = pem.present ? std::move(pem.base64) : contents;
  if (!IsValidMetaDataKey(text)) {
    why = pem.present ? "the base64 of its PEM block is not one"
                      : "it is neither PEM (\"-----BEGIN PUBLIC KEY-----\") nor the base64 DER "
                        "of one";
    return false;
  }
  keyText = std::move(text);
  return true;
}

}  // namespace

bool IsValidMetaDataKey(const std::string& keyText) {
  try {
    CryptoPP::RSAFunction key;
    CryptoPP::StringSource source(keyText, true, new CryptoPP::Base64Decoder);
    key.Load(source);
    return key.GetModulus().BitCount() == RSA_KEY_BITS;
  } catch (const std::exception&) {
    return false;
  }
}

bool LoadMetaDataKeyFile(const std::string& path, std::string& keyText, std::string& error) {
  FileByteSource file;
  if (!file.Open(path)) {
    error = Format("cannot read meta-data key file %s: %s", path.c_str(),
                   file.OpenError().c_str());
    return false;
  }
  if (file.Length() > KEY_FILE_LIMIT) {
    error = Format("meta-data key file %s is too large to be a key (%llu bytes; a key file is "
                   "at most %llu)",
                   path.c_str(), static_cast<unsigned long long>(file.Length()),
                   static_cast<unsigned long long>(KEY_FILE_LIMIT));
    return false;
  }
  std::string text(static_cast<size_t>(file.Length()), '\0');
  if (!file.ReadExactly(0, text.data(), text.size())) {
    error = Format("cannot read meta-data key file %s", path.c_str());
    return false;
  }
  std::string why;
  if (!KeyTextOf(text, keyText, why)) {
    error = Format("meta-data key file %s does not hold an RSA-2048 public key: %s", path.c_str(),
                   why.c_str());
    return false;
  }
  return true;
}

}  // namespace mirk3
