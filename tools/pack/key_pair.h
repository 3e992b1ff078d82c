// RSA-2048 key pairs for signing package content lists. Both halves are kept as base64 text
// in lines of 64 characters, each ended by a line feed: the private half as the DER of its
// PKCS #8 PrivateKeyInfo, the public half as the DER of its X.509 SubjectPublicKeyInfo (the
// form the station reads).
#pragma once

#include <string>

namespace mirk3::pack {

struct KeyPairText {
  std::string privateText;
  std::string publicText;
};

// Makes a fresh RSA-2048 key pair.
KeyPairText GenerateKeyPair();

// The public key text that belongs to a private key text; empty when the text is not an
// RSA-2048 private key.
std::string PublicKeyTextOf(const std::string& privateText);

// Reads a private key file; false with a message naming the file when it cannot be read or
// does not hold an RSA-2048 private key.
bool LoadPrivateKeyFile(const std::string& path, std::string& privateText, std::string& error);

// Makes a fresh key pair and writes it to two new files: both appear, or neither does. Paths
// that exist already are refused, before the pair is made. The private half is readable by its
// owner only.
bool WriteNewKeyPair(const std::string& privatePath, const std::string& publicPath,
                     std::string& error);

// `der` as base64 text in lines of 64 characters, each ended by a line feed.
std::string Base64Lines(const std::string& der);

}  // namespace mirk3::pack
