#include "packages/meta_data_verifier.h"

#include <cryptopp/base64.h>
#include <cryptopp/filters.h>
#include <cryptopp/modes.h>
#include <cryptopp/rijndael.h>
#include <cryptopp/rsa.h>
#include <cryptopp/sha.h>

#include <cstring>
#include <exception>
#include <memory>

#include "base/text.h"
#include "packages/member_digest.h"
#include "packages/tar_walk.h"

namespace mirk3 {

CMetaDataVerifier::CMetaDataVerifier(std::string archivePath, std::string keyText)
    : keyText_(std::move(keyText)), archivePath_(std::move(archivePath)) {}

bool CMetaDataVerifier::IsMetaDataEntry(std::string_view name) {
  return name.find("meta-data/") != std::string_view::npos ||
         name.find("meta-data\\") != std::string_view::npos;
}

bool CMetaDataVerifier::IsSignedListEntry(std::string_view name) {
  // Characters or bytes come to the same here: the only name below 14 characters that holds
  // the folder and the ending is the folder and the ending alone.
  return IsMetaDataEntry(name) && name.size() >= 14 && name.ends_with(".mf");
}

std::optional<uint64_t> CMetaDataVerifier::ParseOctal(std::string_view field) {
  return ParseTarOctal(field);
}

bool CMetaDataVerifier::VerifyArchive() {
  FileByteSource source;
  return source.Open(archivePath_) && VerifyArchive(source);
}

bool CMetaDataVerifier::VerifyArchive(const ByteSource& source) {
  if (!ReadList(source, 0, source.Length()) || entryCount_ < 1) return false;
  return HashMembers(source);
}

bool CMetaDataVerifier::VerifyListAt(uint64_t offset) {
  FileByteSource source;
  if (!source.Open(archivePath_)) return false;
  return ReadList(source, offset, source.Length()) && entryCount_ >= 1;
}

bool CMetaDataVerifier::VerifyListIn(uint64_t begin, uint64_t end) {
  FileByteSource source;
  if (!source.Open(archivePath_)) return false;
  if (begin > end || end > source.Length()) return false;
  return ReadList(source, begin, end) && entryCount_ >= 1;
}

bool CMetaDataVerifier::ReadList(const ByteSource& source, uint64_t start, uint64_t end) {
  entryCount_ = 0;
  TarWalk walk(source, start, end, keep_);
  TarMember member;
  for (;;) {
    const TarStep step = walk.Next(member);
    if (step == TarStep::END) return true;
    if (step == TarStep::BROKEN) return false;
    // A list member of 128 KiB or more is passed over like any other member.
    if (IsSignedListEntry(member.name) && member.size < LIST_SIZE_LIMIT) {
      return ReadListMember(source, member.dataOffset, member.size);
    }
  }
}

bool CMetaDataVerifier::ReadListMember(const ByteSource& source, uint64_t offset, uint64_t size) {
  // A member shorter than its own signature cannot be a list.
  if (size < LIST_SIGNATURE_SIZE) return false;
  const size_t length = static_cast<size_t>(size);
  const auto buffer = std::make_unique<uint8_t[]>(length);
  if (!source.ReadExactly(offset, buffer.get(), length)) return false;
  if (!VerifySignature(buffer.get(), length)) return false;

  const std::string plain =
      DecryptList(buffer.get() + LIST_SIGNATURE_SIZE, length - LIST_SIGNATURE_SIZE);
  ContentList list;
  if (!ParseContentList(plain, list)) return false;
  entryCount_ = list.count;
  model_ = std::move(list.model);
  names_ = std::move(list.names);
  digests_ = std::move(list.digests);
  return true;
}

bool CMetaDataVerifier::HashMembers(const ByteSource& source) const {
  TarWalk walk(source, 0, keep_);
  TarMember member;
  for (;;) {
    const TarStep step = walk.Next(member);
    if (step == TarStep::END) return true;
    if (step == TarStep::BROKEN) return false;
    if (IsMetaDataEntry(member.name)) continue;

    size_t index = 0;
    while (index < names_.size() && names_[index] != member.name) ++index;
    if (index == names_.size()) return false;
    const std::string digest = MemberSha256Hex(source, member.dataOffset, member.size);
    if (digest.empty() || digest != digests_[index]) return false;
  }
}

bool CMetaDataVerifier::VerifySignature(const uint8_t* data, size_t length) const {
  if (length < LIST_SIGNATURE_SIZE) return false;
  try {
    CryptoPP::RSAFunction publicKey;
    CryptoPP::StringSource keySource(keyText_, true, new CryptoPP::Base64Decoder);
    publicKey.Load(keySource);
    // The ciphertext starts at the fixed offset 256, so only a 2048-bit key fits the layout.
    if (publicKey.GetModulus().BitCount() != RSA_KEY_BITS) return false;
    CryptoPP::RSASS<CryptoPP::PKCS1v15, CryptoPP::SHA256>::Verifier verifier(publicKey);

    uint8_t result = 0;
    CryptoPP::ArraySource(data, length, true,
                          new CryptoPP::SignatureVerificationFilter(
                              verifier, new CryptoPP::ArraySink(&result, sizeof result),
                              CryptoPP::SignatureVerificationFilter::SIGNATURE_AT_BEGIN |
                                  CryptoPP::SignatureVerificationFilter::PUT_RESULT));
    return result != 0;
  } catch (const std::exception&) {
    return false;
  }
}

std::string CMetaDataVerifier::DecryptList(const uint8_t* data, size_t length) const {
  try {
    CryptoPP::CBC_Mode<CryptoPP::Rijndael>::Decryption decryption;
    decryption.SetKeyWithIV(reinterpret_cast<const CryptoPP::byte*>(LIST_KEY), LIST_KEY_SIZE,
                            reinterpret_cast<const CryptoPP::byte*>(LIST_IV), LIST_KEY_SIZE);
    std::string plain;
    CryptoPP::ArraySource(
        data, length, true,
        new CryptoPP::StreamTransformationFilter(decryption, new CryptoPP::StringSink(plain)));
    return plain;
  } catch (const std::exception&) {
    return {};
  }
}

bool CMetaDataVerifier::CheckModel(char (&packageModel)[PACKAGE_MODEL_SIZE]) const {
  return AgreeOnModel(model_, packageModel);
}

bool CMetaDataVerifier::AgreeOnModel(const std::string& model,
                                     char (&packageModel)[PACKAGE_MODEL_SIZE]) {
  // An empty model would let the next package fix another one, and a NUL inside the model
  // would be cut off in the buffer: neither can be shared between packages.
  if (model.empty() || model.size() > MODEL_MAX_LENGTH || model.find('\0') != std::string::npos) {
    return false;
  }
  if (packageModel[0] != '\0') return FieldText(packageModel, PACKAGE_MODEL_SIZE) == model;
  CopyToField(packageModel, PACKAGE_MODEL_SIZE, model);
  return true;
}

}  // namespace mirk3
