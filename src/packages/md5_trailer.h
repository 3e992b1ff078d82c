// Verification of ".tar.md5" packages: a tar archive followed by the trailer line a common MD5
// checksum tool writes ("<32 hex digits><2 separator bytes><name without .md5><line end>").
// The trailer is located by arithmetic from the end of the file, from the length of the
// package's own file name; the name inside the trailer is never compared.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace mirk3 {

// Receives the check's log lines ("There is no memory.", "MD5 hash value is invalid"); the
// station shows them as lines that belong to no port.
using Md5LogSink = std::function<void(std::string_view line)>;

// The buffer one check digests through: taken from the system in one piece and given back
// right after the digest.
inline constexpr size_t MD5_DIGEST_BUFFER_SIZE = 104857600;  // 100 MiB

// Trailer bytes after the tar part of a package whose file name (without folders, ".md5"
// included) is `nameLength` bytes long: 32 digits, 2 separator bytes, the name without its
// ".md5" and one line-end byte.
inline constexpr uint64_t Md5TrailerLength(size_t nameLength) { return nameLength + 31; }

// Length of the tar part of a `fileLength`-byte package, or nothing when the file is shorter
// than its own trailer.
std::optional<uint64_t> Md5TarLength(uint64_t fileLength, size_t nameLength);

// The file name part of a path: the bytes after its last '/'.
std::string_view PathFileName(std::string_view path);

// Serialises trailer checks in the whole process: one check at a time, whatever thread asks,
// so that at most one digest buffer exists. Created on first use, kept for the process.
std::mutex& Md5CheckLock();

// Why a trailer check failed, for the operator: the check's own log lines say only that it did.
enum class Md5Problem {
  None,           // the check passed
  Unreadable,     // the file cannot be opened, is not a regular file, or ended early
  NoMemory,       // the digest buffer cannot be had
  NoTrailer,      // the file does not end in a checksum line for its name (a plain tar)
  DigestNotHex,   // a checksum line whose digest text is not 32 hex digits
  DigestDiffers,  // the digest of the tar part is not the one the trailer gives
};

struct Md5Failure {
  Md5Problem problem = Md5Problem::None;
  std::string text;  // "no MD5 trailer: ...", "the digest differs: ..."; empty when it passed
};

// True when the MD5 digest of the tar part of the package at `path` equals the digest text of
// its trailer (compared ignoring case). Waits for the process-wide lock without a time limit.
// A file that cannot be opened, is not a regular file, is shorter than its trailer or ends
// early fails. Why it failed goes to `failure` when given.
bool VerifyMd5Trailer(const std::string& path, const Md5LogSink& log = {},
                      Md5Failure* failure = nullptr);

}  // namespace mirk3
