#include "pack/list_signer.h"

#include <cryptopp/base64.h>
#include <cryptopp/filters.h>
#include <cryptopp/modes.h>
#include <cryptopp/osrng.h>
#include <cryptopp/rijndael.h>
#include <cryptopp/rsa.h>
#include <cryptopp/sha.h>

#include <exception>

#include "packages/content_list.h"

namespace mirk3::pack {

std::string FormatContentList(std::string_view model, const std::vector<ListEntry>& entries) {
  std::string plain = std::to_string(entries.size()) + "\n";
  plain += model;
  plain += '\n';
  for (const ListEntry& entry : entries) plain += entry.digestHex + "  " + entry.name + "\n";
  return plain;
}

std::string EncryptContentList(std::string_view plain, bool pkcs7Padding) {
  try {
    CryptoPP::CBC_Mode<CryptoPP::Rijndael>::Encryption encryption;
    encryption.SetKeyWithIV(reinterpret_cast<const CryptoPP::byte*>(LIST_KEY), LIST_KEY_SIZE,
                            reinterpret_cast<const CryptoPP::byte*>(LIST_IV), LIST_KEY_SIZE);
    std::string cipher;
    CryptoPP::StringSource(reinterpret_cast<const CryptoPP::byte*>(plain.data()), plain.size(),
                           true,
                           new CryptoPP::StreamTransformationFilter(
                               encryption, new CryptoPP::StringSink(cipher),
                               pkcs7Padding ? CryptoPP::BlockPaddingSchemeDef::PKCS_PADDING
                                            : CryptoPP::BlockPaddingSchemeDef::NO_PADDING));
    return cipher;
  } catch (const std::exception&) {
    return {};  // without padding: the plain text was not whole blocks
  }
}

bool SignListBody(std::string_view body, const std::string& privateText, std::string& member,
                  std::string& error) {
  try {
    CryptoPP::RSA::PrivateKey key;
    CryptoPP::StringSource source(privateText, true, new CryptoPP::Base64Decoder);
    key.Load(source);
    if (key.GetModulus().BitCount() != RSA_KEY_BITS) {
      error = "the signing key is not an RSA-2048 key";
      return false;
    }
    CryptoPP::RSASS<CryptoPP::PKCS1v15, CryptoPP::SHA256>::Signer signer(key);
    CryptoPP::AutoSeededRandomPool random;
    std::string signature;
    CryptoPP::StringSource(
        reinterpret_cast<const CryptoPP::byte*>(body.data()), body.size(), true,
        new CryptoPP::SignerFilter(random, signer, new CryptoPP::StringSink(signature)));
    member = signature;
    member += body;
    return true;
  } catch (const std::exception& e) {
    error = std::string("cannot sign the content list: ") + e.what();
    return false;
  }
}

bool SealContentList(std::string_view plain, const std::string& privateText, std::string& member,
                     std::string& error) {
  return SignListBody(EncryptContentList(plain), privateText, member, error);
}

}  // namespace mirk3::pack
