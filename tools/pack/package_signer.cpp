#include "pack/package_signer.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "base/file.h"
#include "base/text.h"
#include "pack/list_signer.h"
#include "pack/tar_writer.h"
#include "packages/byte_source.h"
#include "packages/content_list.h"
#include "packages/member_digest.h"
#include "packages/meta_data_verifier.h"
#include "packages/tar_walk.h"

namespace mirk3::pack {
namespace {

constexpr size_t COPY_CHUNK = 4 * 1048576;

struct KeptMember {
  uint64_t headerOffset;
  uint64_t length;  // header, data and padding
};

bool OpenTar(const std::string& path, FileByteSource& source, std::string& error) {
  if (source.Open(path)) return true;
  error = "cannot read " + DescribeFileProblem(path, source.OpenError());
  return false;
}

bool HasBlank(const std::string& name) {
  return name.find_first_of(" \t\n\v\f\r") != std::string::npos;
}

// Walks the tar once: the entries to list and the members to copy (all but an old list).
bool ScanInput(const FileByteSource& source, const std::string& path,
               std::vector<ListEntry>& entries, std::vector<KeptMember>& kept, std::string& error) {
  entries.clear();
  TarWalk walk(source, 0);
  TarMember member;
  for (TarStep step; (step = walk.Next(member)) != TarStep::End;) {
    if (step == TarStep::Broken) {
      error = Format(
          "%s is not a tar archive the station can read (a damaged header, a "
          "member name of 100 bytes, or a member cut short)",
          path.c_str());
      return false;
    }
    const uint64_t headerOffset = member.dataOffset - TAR_BLOCK_SIZE;
    const uint64_t length = TAR_BLOCK_SIZE + TarPaddedSize(member.size);
    if (CMetaDataVerifier::IsSignedListEntry(member.name)) continue;
    kept.push_back({headerOffset, length});
    if (CMetaDataVerifier::IsMetaDataEntry(member.name)) continue;

    if (HasBlank(member.name)) {
      error = Format("member \"%s\" has a blank in its name, which a content list cannot hold",
                     member.name.c_str());
      return false;
    }
    const std::string digest = MemberSha256Hex(source, member.dataOffset, member.size);
    if (digest.empty()) {
      error = Format("cannot read member %s of %s", member.name.c_str(), path.c_str());
      return false;
    }
    const auto same = std::find_if(entries.begin(), entries.end(),
                                   [&](const ListEntry& e) { return e.name == member.name; });
    if (same == entries.end()) {
      entries.push_back({digest, member.name});
    } else if (same->digestHex != digest) {
      error = Format("%s holds two members named %s with different data", path.c_str(),
                     member.name.c_str());
      return false;
    }
  }
  return true;
}

bool CheckRequest(const SignRequest& request, const std::vector<ListEntry>& entries,
                  std::string& error) {
  const std::string& model = request.model;
  if (model.empty() || model.size() > MODEL_MAX_LENGTH ||
      model.find_first_of(std::string("\n\0", 2)) != std::string::npos) {
    error = Format("the model must be one line of 1 to %zu bytes", MODEL_MAX_LENGTH);
    return false;
  }
  if (!CMetaDataVerifier::IsSignedListEntry(request.listName) ||
      request.listName.size() > TAR_MAX_NAME_LENGTH) {
    error = Format(
        "%s is not a content list name the station looks for (meta-data/NAME.mf, "
        "14 to %zu bytes)",
        request.listName.c_str(), TAR_MAX_NAME_LENGTH);
    return false;
  }
  if (entries.empty() || entries.size() > static_cast<size_t>(LIST_MAX_ENTRIES)) {
    error = Format("%s has %zu members to list; a content list holds 1 to %d",
                   request.inPath.c_str(), entries.size(), LIST_MAX_ENTRIES);
    return false;
  }
  return true;
}

bool CopyMembers(const FileByteSource& source, const std::vector<KeptMember>& kept,
                 TarWriter& writer) {
  const auto buffer = std::make_unique<char[]>(COPY_CHUNK);
  for (const KeptMember& member : kept) {
    for (uint64_t done = 0; done < member.length;) {
      const size_t chunk =
          static_cast<size_t>(std::min<uint64_t>(COPY_CHUNK, member.length - done));
      if (!source.ReadExactly(member.headerOffset + done, buffer.get(), chunk)) return false;
      if (!writer.WriteRaw(std::string_view(buffer.get(), chunk))) return false;
      done += chunk;
    }
  }
  return true;
}

}  // namespace

bool SignPackage(const SignRequest& request, std::string& error) {
  TarWriter writer;
  if (!writer.Open(request.outPath, {request.inPath, request.keyPath})) {
    error = writer.Error();
    return false;
  }
  FileByteSource source;
  std::vector<ListEntry> entries;
  std::vector<KeptMember> kept;
  std::string listMember;
  if (!OpenTar(request.inPath, source, error) ||
      !ScanInput(source, request.inPath, entries, kept, error) ||
      !CheckRequest(request, entries, error) ||
      !SealContentList(FormatContentList(request.model, entries), request.privateKeyText,
                       listMember, error)) {
    return false;
  }
  if (CopyMembers(source, kept, writer) && writer.AddBytes(request.listName, listMember) &&
      writer.Finish()) {
    return true;
  }
  error = writer.Error().empty() ? Format("cannot copy the members of %s", request.inPath.c_str())
                                 : writer.Error();
  return false;
}

}  // namespace mirk3::pack
