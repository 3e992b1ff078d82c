#include "pack/md5_package.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "base/text.h"
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
    error = Format("cannot read %s: %s", tarPath.c_str(),
                   errno == EINVAL ? "not a regular file" : std::strerror(errno));
    return false;
  }
  const std::string outPath = tarPath + ".md5";
  FILE* out = fopen(outPath.c_str(), "wbe");
  if (!out) {
    error = Format("cannot create %s: %s", outPath.c_str(), std::strerror(errno));
    return false;
  }

  const CMD5 md5;
  Md5Context context;
  md5.Init(context);
  const auto buffer = std::make_unique<uint8_t[]>(COPY_CHUNK);
  bool ok = true;
  for (uint64_t done = 0; ok && done < tar.Length();) {
    const size_t chunk = static_cast<size_t>(std::min<uint64_t>(COPY_CHUNK, tar.Length() - done));
    ok = tar.ReadExactly(done, buffer.get(), chunk) && fwrite(buffer.get(), 1, chunk, out) == chunk;
    md5.Update(context, buffer.get(), chunk);
    done += chunk;
  }
  uint8_t digest[MD5_DIGEST_SIZE];
  md5.Final(context, digest);
  const std::string line = Md5TrailerLine(Md5Hex(digest, false), PathFileName(tarPath));
  ok = ok && fwrite(line.data(), 1, line.size(), out) == line.size();
  ok = (fclose(out) == 0) && ok;
  if (!ok) {
    std::remove(outPath.c_str());
    error = Format("cannot write %s from %s", outPath.c_str(), tarPath.c_str());
  }
  return ok;
}

}  // namespace mirk3::pack
