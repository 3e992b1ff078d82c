#include "pack/md5_package.h"

#include <algorithm>
#include <memory>

#include "base/file.h"
#include "base/text.h"
#include "pack/partial_output.h"
#include "packages/byte_source.h"
#include "packages/md5.h"
#include "packages/md5_trailer.h"

namespace mirk3::pack {
namespace {

constexpr size_t COPY_CHUNK = 4 * 1048576;

}  // namespace

std::string Md5TrailerLine(std::string_view digestHex, std::string_view tarName) {
  std::string line(digestHex);
  line += "  ";
  line += tarName;
  line += '\n';
  return line;
}

bool WriteMd5Package(const std::string& tarPath, std::string& error) {
  FileByteSource tar;
  if (!tar.Open(tarPath)) {
    error = "cannot read " + DescribeFileProblem(tarPath, tar.OpenError());
    return false;
  }
  PartialOutput out;
  bool ok = out.Create(tarPath + ".md5", {.inputs = {tarPath}});
  const CMD5 md5;
  Md5Context context;
  md5.Init(context);
  const auto buffer = std::make_unique<uint8_t[]>(COPY_CHUNK);
  for (uint64_t done = 0; ok && done < tar.Length();) {
    const size_t chunk = static_cast<size_t>(std::min<uint64_t>(COPY_CHUNK, tar.Length() - done));
    if (!tar.ReadExactly(done, buffer.get(), chunk)) {
      error = Format("%s changed or could not be read while it was copied", tarPath.c_str());
      return false;
    }
    md5.Update(context, buffer.get(), chunk);
    ok = out.Write(buffer.get(), chunk);
    done += chunk;
  }
  uint8_t digest[MD5_DIGEST_SIZE];
  md5.Final(context, digest);
  ok =
      ok && out.Write(Md5TrailerLine(Md5Hex(digest, false), PathFileName(tarPath))) && out.Commit();
  if (!ok) error = out.Error();
  return ok;
}

}  // namespace mirk3::pack
