// The public key that package content lists are signed with: the station's built-in key, or
// a deployment's own key named by a key file. A key text is the base64 of the DER-encoded
// X.509 SubjectPublicKeyInfo of an RSA-2048 public key, in lines of 64 characters. A key file
// holds such a text, or the same key in PEM: that base64 between the lines
// "-----BEGIN PUBLIC KEY-----" and "-----END PUBLIC KEY-----".
#pragma once

#include <string>

namespace mirk3 {

// The built-in key text (this project's own key pair; its private half is test data).
const std::string& BuiltInMetaDataKey();

// True when `keyText` decodes to an RSA public key with a 2048-bit modulus.
bool IsValidMetaDataKey(const std::string& keyText);

// Reads a key file, PEM or base64 DER, into `keyText` (the base64 of the key). On failure
// returns false with a message in `error` that names the file and says what is wrong with it
// (unreadable, too large, a PEM block of another kind or without its end line, or neither
// form of such a key).
bool LoadMetaDataKeyFile(const std::string& path, std::string& keyText, std::string& error);

}  // namespace mirk3
