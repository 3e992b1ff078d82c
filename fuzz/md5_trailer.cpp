// Fuzzes the MD5 trailer check of ".tar.md5" packages. The first input byte picks the
// package's file name (the trailer is located from the name's length), the rest is the file.
// A pass means the digest of the tar part, computed here apart, is the trailer's digest text;
// a refusal always says why.
#include "packages/md5_trailer.h"

#include <cstring>
#include <iterator>
#include <string>
#include <string_view>

#include "base/text.h"
#include "packages/md5.h"
#include "support/fuzz_target.h"
#include "support/scratch_dir.h"

namespace {

using mirk3::fuzz::Require;

const std::string NAMES[] = {"AP_fuzz.tar.md5", "a.md5", "BL_" + std::string(40, 'n') + ".tar.md5",
                             "CSC_ünïcode.tar.md5"};

std::string DigestText(std::string_view bytes) {
  const mirk3::CMD5 md5;
  mirk3::Md5Context context;
  md5.Init(context);
  md5.Update(context, bytes.data(), bytes.size());
  uint8_t digest[mirk3::MD5_DIGEST_SIZE];
  md5.Final(context, digest);
  return mirk3::Md5Hex(digest, true);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string& name = NAMES[data[0] % std::size(NAMES)];
  const std::string_view file(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::string path = mirk3::fuzz::WriteScratchFile(name, file.data(), file.size());

  int logLines = 0;
  mirk3::Md5Failure failure;
  const bool passed = mirk3::VerifyMd5Trailer(
      path, [&logLines](std::string_view) { ++logLines; }, &failure);
  const auto tarLength = mirk3::Md5TarLength(file.size(), name.size());
  Require(tarLength.has_value() == (file.size() >= mirk3::Md5TrailerLength(name.size())),
          "a tar part for a file shorter than its trailer, or none for one long enough");
  if (!passed) {
    Require(failure.problem != mirk3::Md5Problem::None && !failure.text.empty() && logLines > 0,
            "a refusal that does not say why");
    if (failure.problem == mirk3::Md5Problem::DigestDiffers) {
      Require(!mirk3::EqualsIgnoreCase(DigestText(file.substr(0, *tarLength)),
                                       file.substr(*tarLength, 32)),
              "a matching digest refused");
    }
    return 0;
  }
  Require(failure.problem == mirk3::Md5Problem::None && failure.text.empty() && logLines == 0,
          "a pass with a failure");
  Require(tarLength.has_value(), "a pass without a trailer");
  Require(
      mirk3::EqualsIgnoreCase(DigestText(file.substr(0, *tarLength)), file.substr(*tarLength, 32)),
      "a pass whose trailer is not the tar part's digest");
  return 0;
}
