#include "packages/meta_data_key.h"

#include <cryptopp/base64.h>
#include <cryptopp/filters.h>
#include <cryptopp/rsa.h>

#include <cerrno>
#include <cstring>
#include <exception>

#include "base/text.h"
#include "packages/byte_source.h"
#include "packages/content_list.h"

namespace mirk3 {
namespace {

// Far above the 399 characters of a key text; a larger file is not a key.
constexpr uint64_t KEY_FILE_LIMIT = 65536;

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
    const int cause = errno;
    error = Format("cannot read meta-data key file %s: %s", path.c_str(),
                   cause == EINVAL ? "not a regular file" : std::strerror(cause));
    return false;
  }
  if (file.Length() > KEY_FILE_LIMIT) {
    error = Format("meta-data key file %s is too large to be a key", path.c_str());
    return false;
  }
  std::string text(static_cast<size_t>(file.Length()), '\0');
  if (!file.ReadExactly(0, text.data(), text.size())) {
    error = Format("cannot read meta-data key file %s", path.c_str());
    return false;
  }
  if (!IsValidMetaDataKey(text)) {
    error = Format(
        "meta-data key file %s does not hold an RSA-2048 public key "
        "(base64 DER SubjectPublicKeyInfo)",
        path.c_str());
    return false;
  }
  keyText = std::move(text);
  return true;
}

}  // namespace mirk3
