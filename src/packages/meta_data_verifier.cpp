#include "packages/meta_data_verifier.h"

#include <cryptopp/base64.h>
#include <cryptopp/filters.h>
#include <cryptopp/modes.h>
#include <cryptopp/rijndael.h>
#include <cryptopp/rsa.h>
#include <cryptopp/sha.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <memory>

#include "base/text.h"
#include "packages/member_digest.h"
#include "packages/tar_walk.h"

namespace mirk3 {
namespace {

// A member name or a list word as a reason shows it: as it is, or quoted and escaped when it
// holds a byte that would break the line.
std::string Shown(std::string_view text) {
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) return QuotedText(text);
  }
  return std::string(text);
}

}  // namespace

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

bool CMetaDataVerifier::Fail(MetaDataProblem problem, std::string text) {
  failure_ = {problem, std::move(text)};
  return false;
}

bool CMetaDataVerifier::FailBroken(const TarWalk& walk) {
  return Fail(MetaDataProblem::BrokenArchive,
              "the package is not a whole tar archive: " + walk.Problem());
}

bool CMetaDataVerifier::Open(FileByteSource& source) {
  failure_ = {};
  if (source.Open(archivePath_)) return true;
  failure_ = UnreadablePackage(errno);
  return false;
}

bool CMetaDataVerifier::VerifyArchive() {
  FileByteSource source;
  return Open(source) && VerifyArchive(source);
}

bool CMetaDataVerifier::VerifyArchive(const ByteSource& source) {
  failure_ = {};
  return ReadList(source, 0, source.Length()) && HashMembers(source);
}

bool CMetaDataVerifier::VerifyListAt(uint64_t offset) {
  FileByteSource source;
  return Open(source) && ReadList(source, offset, source.Length());
}

bool CMetaDataVerifier::VerifyListIn(uint64_t begin, uint64_t end) {
  FileByteSource source;
  if (!Open(source)) return false;
  if (begin > end || end > source.Length()) {
    return Fail(MetaDataProblem::NoSlot,
                Format("the bytes %llu to %llu do not lie within the program's %llu bytes",
                       static_cast<unsigned long long>(begin), static_cast<unsigned long long>(end),
                       static_cast<unsigned long long>(source.Length())));
  }
  return ReadList(source, begin, end);
}

bool CMetaDataVerifier::ReadList(const ByteSource& source, uint64_t start, uint64_t end) {
  entryCount_ = 0;
  TarWalk walk(source, start, end, keep_);
  TarMember member;
  for (;;) {
    const TarStep step = walk.Next(member);
    if (step == TarStep::End) break;
    if (step == TarStep::Broken) return FailBroken(walk);
    // A list member of 128 KiB or more is passed over like any other member.
    if (IsSignedListEntry(member.name) && member.size < LIST_SIZE_LIMIT) {
      return ReadListMember(source, member.dataOffset, member.size);
    }
  }
  return Fail(MetaDataProblem::NoList,
              "no content list: no member ending in .mf below 128 KiB in a meta-data/ folder");
}

bool CMetaDataVerifier::ReadListMember(const ByteSource& source, uint64_t offset, uint64_t size) {
  if (size < LIST_SIGNATURE_SIZE) {
    return Fail(MetaDataProblem::BadSignature,
                Format("the content list (%llu bytes) is shorter than its 256-byte signature",
                       static_cast<unsigned long long>(size)));
  }
  const size_t length = static_cast<size_t>(size);
  const auto buffer = std::make_unique<uint8_t[]>(length);
  if (!source.ReadExactly(offset, buffer.get(), length)) {
    return Fail(MetaDataProblem::Unreadable, "the content list cannot be read");
  }
  if (!VerifySignature(buffer.get(), length)) {
    return Fail(MetaDataProblem::BadSignature,
                "the content list's signature does not verify with this key");
  }
  const std::optional<std::string> plain =
      Decrypt(buffer.get() + LIST_SIGNATURE_SIZE, length - LIST_SIGNATURE_SIZE);
  if (!plain) {
    return Fail(MetaDataProblem::Undecryptable,
                "the content list does not decrypt: its ciphertext is not whole AES blocks or "
                "its padding is wrong");
  }
  ContentList list;
  if (!ParseContentList(*plain, list)) return FailList(list);
  entryCount_ = list.count;
  model_ = std::move(list.model);
  names_ = std::move(list.names);
  digests_ = std::move(list.digests);
  return true;
}

bool CMetaDataVerifier::FailList(const ContentList& list) {
  // A list refused for its count is left without one.
  if (list.count == 0) {
    return Fail(MetaDataProblem::BadCount,
                "the content list's count is not a number from 1 to 100");
  }
  return Fail(MetaDataProblem::CountDiffers,
              Format("the list's count differs: it says %d members, but the list names %zu",
                     list.count, list.names.size()));
}

size_t CMetaDataVerifier::ListedIndex(const std::string& name) const {
  size_t index = 0;
  while (index < names_.size() && names_[index] != name) ++index;
  return index;
}

bool CMetaDataVerifier::HashMembers(const ByteSource& source) {
  TarWalk walk(source, 0, keep_);
  TarMember member;
  for (;;) {
    const TarStep step = walk.Next(member);
    if (step == TarStep::End) return true;
    if (step == TarStep::Broken) return FailBroken(walk);
    if (IsMetaDataEntry(member.name)) continue;

    const size_t index = ListedIndex(member.name);
    const std::string name = Shown(member.name);
    if (index == names_.size()) {
      return Fail(MetaDataProblem::Unlisted, "member " + name + " is not in the content list");
    }
    const std::string digest = MemberSha256Hex(source, member.dataOffset, member.size);
    if (digest.empty()) {
      return Fail(MetaDataProblem::Unreadable, "member " + name + " cannot be read");
    }
    if (digest != digests_[index]) {
      return Fail(MetaDataProblem::DigestDiffers,
                  "member " + name + "'s digest differs: the list says " + Shown(digests_[index]) +
                      ", the member's is " + digest);
    }
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
  return Decrypt(data, length).value_or(std::string());
}

std::optional<std::string> CMetaDataVerifier::Decrypt(const uint8_t* data, size_t length) {
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
    return std::nullopt;
  }
}

bool CMetaDataVerifier::CheckModel(char (&packageModel)[PACKAGE_MODEL_SIZE]) {
  failure_ = {};
  return AgreeOnModel(model_, packageModel, &failure_);
}

bool CMetaDataVerifier::AgreeOnModel(const std::string& model,
                                     char (&packageModel)[PACKAGE_MODEL_SIZE],
                                     MetaDataFailure* failure) {
  const auto fail = [failure](MetaDataProblem problem, std::string text) {
    if (failure) *failure = {problem, std::move(text)};
    return false;
  };
  // An empty model would let the next package fix another one, and a NUL inside the model
  // would be cut off in the buffer: neither can be shared between packages.
  if (model.empty() || model.size() > MODEL_MAX_LENGTH || model.find('\0') != std::string::npos) {
    return fail(MetaDataProblem::BadModel,
                "the list's model " + QuotedText(model) +
                    " cannot be shared: a model is 1 to 29 bytes without a NUL");
  }
  const std::string_view fixed = FieldText(packageModel, PACKAGE_MODEL_SIZE);
  if (fixed.empty()) {
    CopyToField(packageModel, PACKAGE_MODEL_SIZE, model);
    return true;
  }
  if (fixed == model) return true;
  return fail(MetaDataProblem::ModelDiffers, "the packages' models differ: this one's is " +
                                                 QuotedText(model) + ", an earlier one's " +
                                                 QuotedText(fixed));
}

}  // namespace mirk3
