// The meta-data check of one package: its signed content list must verify against the
// station's public key, decrypt, and name every member outside "meta-data/" with the SHA-256
// of its data. A verifier is made on the stack for one package and discarded after it; it
// logs nothing, and every failure, malformed input included, is a false result whose reason
// the verifier keeps (Failure()).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "packages/byte_source.h"
#include "packages/content_list.h"
#include "packages/meta_data_failure.h"
#include "packages/tar_walk.h"

namespace mirk3 {

class CMetaDataVerifier {
 public:
  // `keyText` is the base64 DER SubjectPublicKeyInfo of the RSA-2048 key lists are signed with.
  CMetaDataVerifier(std::string archivePath, std::string keyText);

  // Full check of a whole package file: find and verify the list, then hash every member.
  bool VerifyArchive();
  // The same check of a package already open as `source`.
  bool VerifyArchive(const ByteSource& source);
  // Keeps every tar header block the checks read in `keep`, for a walk that follows.
  void KeepHeaders(HeaderBlocks* keep) { keep_ = keep; }
  // List-only check of a tar that begins at `offset` in the file and runs to its end; members
  // are not hashed.
  bool VerifyListAt(uint64_t offset);
  // List-only check of the tar that fills the bytes [begin, end) of the file (a One Click
  // slot): the search for the list never leaves them. False when they do not lie within the
  // file.
  bool VerifyListIn(uint64_t begin, uint64_t end);

  // Signature check of a whole list member: the first 256 bytes sign the rest.
  bool VerifySignature(const uint8_t* data, size_t length) const;
  // The plain list, or an empty text when the ciphertext is not whole blocks or its padding
  // is wrong.
  std::string DecryptList(const uint8_t* data, size_t length) const;
  // Fills an empty model buffer with the list's model, or compares a filled one with it.
  bool CheckModel(char (&packageModel)[PACKAGE_MODEL_SIZE]);
  // The same for a model line kept apart from its verifier; why they do not agree goes to
  // `failure` when given.
  static bool AgreeOnModel(const std::string& model, char (&packageModel)[PACKAGE_MODEL_SIZE],
                           MetaDataFailure* failure = nullptr);

  // The name lies in a "meta-data/" (or "meta-data\") folder, anywhere in the name.
  static bool IsMetaDataEntry(std::string_view name);
  // A meta-data entry of at least 14 bytes that ends in ".mf".
  static bool IsSignedListEntry(std::string_view name);
  // Value of a tar size field; nothing when it holds other than octal digits.
  static std::optional<uint64_t> ParseOctal(std::string_view field);

  const std::string& Model() const { return model_; }
  int EntryCount() const { return entryCount_; }
  const std::vector<std::string>& Names() const { return names_; }
  const std::vector<std::string>& Digests() const { return digests_; }
  // Why the last check or model comparison failed; NONE after one that passed.
  const MetaDataFailure& Failure() const { return failure_; }

 private:
  // Opens the archive for a check; false, with the reason kept, when it cannot be read.
  bool Open(FileByteSource& source);
  // Keeps the reason of a failure; returns false for the caller to return.
  bool Fail(MetaDataProblem problem, std::string text);
  bool FailBroken(const TarWalk& walk);
  // First pass: looks for the first list member below 128 KiB in [start, end) and reads it.
  // False when the walk breaks, no list is found (the entry count stays 0), or the list found
  // does not verify.
  bool ReadList(const ByteSource& source, uint64_t start, uint64_t end);
  bool ReadListMember(const ByteSource& source, uint64_t offset, uint64_t size);
  // Second pass: every member outside the meta-data folder is listed with its digest.
  bool HashMembers(const ByteSource& source);
  // The index of the list entry that names `name`; the entry count when none does.
  size_t ListedIndex(const std::string& name) const;
  // Why the decrypted list does not parse: its count or its entry lines.
  bool FailList(const ContentList& list);
  // The plain list; nothing when the ciphertext is not whole blocks or its padding is wrong.
  static std::optional<std::string> Decrypt(const uint8_t* data, size_t length);

  std::string keyText_;
  std::string archivePath_;
  std::string model_;
  int entryCount_ = 0;
  std::vector<std::string> names_;
  std::vector<std::string> digests_;
  HeaderBlocks* keep_ = nullptr;
  MetaDataFailure failure_;
};

}  // namespace mirk3
