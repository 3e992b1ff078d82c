#include "pack/key_pair.h"

#include <cryptopp/base64.h>
#include <cryptopp/filters.h>
#include <cryptopp/osrng.h>
#include <cryptopp/rsa.h>
#include <unistd.h>

#include <algorithm>
#include <exception>

#include "base/file.h"
#include "base/text.h"
#include "pack/partial_output.h"
#include "pack/removal_on_signal.h"
#include "packages/byte_source.h"
#include "packages/content_list.h"

namespace mirk3::pack {
namespace {

constexpr uint64_t KEY_FILE_LIMIT = 65536;

std::string PublicDer(const CryptoPP::RSA::PublicKey& key) {
  std::string der;
  CryptoPP::StringSink sink(der);
  key.DEREncode(sink);
  return der;
}

bool DecodePrivate(const std::string& privateText, CryptoPP::RSA::PrivateKey& key) {
  try {
    CryptoPP::StringSource source(privateText, true, new CryptoPP::Base64Decoder);
    key.Load(source);
    return key.GetModulus().BitCount() == RSA_KEY_BITS;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace

std::string Base64Lines(const std::string& der) {
  std::string text;
  CryptoPP::StringSource(der, true,
                         new CryptoPP::Base64Encoder(new CryptoPP::StringSink(text), false));
  std::string lines;
  for (size_t i = 0; i < text.size(); i += 64) {
    lines += text.substr(i, 64);
    lines += '\n';
  }
  return lines;
}

KeyPairText GenerateKeyPair() {
  CryptoPP::AutoSeededRandomPool random;
  CryptoPP::RSA::PrivateKey privateKey;
  // The common public exponent 65537; the public key then encodes to the 294 bytes (399
  // characters of text) the station's key has.
  privateKey.Initialize(random, RSA_KEY_BITS, CryptoPP::Integer(65537));
  std::string privateDer;
  CryptoPP::StringSink sink(privateDer);
  privateKey.DEREncode(sink);
  return {Base64Lines(privateDer), Base64Lines(PublicDer(CryptoPP::RSA::PublicKey(privateKey)))};
}

std::string PublicKeyTextOf(const std::string& privateText) {
  CryptoPP::RSA::PrivateKey key;
  if (!DecodePrivate(privateText, key)) return {};
  return Base64Lines(PublicDer(CryptoPP::RSA::PublicKey(key)));
}

bool LoadPrivateKeyFile(const std::string& path, std::string& privateText, std::string& error) {
  FileByteSource file;
  if (!file.Open(path)) {
    error = "cannot read private key file " + DescribeFileProblem(path, file.OpenError());
    return false;
  }
  std::string text(static_cast<size_t>(std::min<uint64_t>(file.Length(), KEY_FILE_LIMIT)), '\0');
  CryptoPP::RSA::PrivateKey key;
  if (file.Length() > KEY_FILE_LIMIT || !file.ReadExactly(0, text.data(), text.size()) ||
      !DecodePrivate(text, key)) {
    error = Format("private key file %s does not hold an RSA-2048 private key", path.c_str());
    return false;
  }
  privateText = std::move(text);
  return true;
}

bool WriteNewKeyPair(const std::string& privatePath, const std::string& publicPath,
                     std::string& error) {
  PartialOutput privateFile, publicFile;
  if (!privateFile.Create(privatePath, {.mode = 0600, .inputs = {}, .replace = false}) ||
      !publicFile.Create(publicPath, {.mode = 0644, .inputs = {}, .replace = false})) {
    error = privateFile.Error().empty() ? publicFile.Error() : privateFile.Error();
    return false;
  }
  const KeyPairText pair = GenerateKeyPair();
  bool ok = privateFile.Write(pair.privateText) && publicFile.Write(pair.publicText);
  if (ok) {
    // A signal now would otherwise leave a private half without its public one.
    const HeldSignals held;
    ok = privateFile.Commit();
    if (ok && !publicFile.Commit()) {
      ::unlink(privatePath.c_str());
      ok = false;
    }
  }
  if (!ok) error = privateFile.Error().empty() ? publicFile.Error() : privateFile.Error();
  return ok;
}

}  // namespace mirk3::pack
