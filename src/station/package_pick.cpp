#include "station/package_pick.h"

#include <sys/stat.h>

#include "base/text.h"
#include "packages/md5_trailer.h"

namespace mirk3 {
namespace {

bool EndsWithIgnoringCase(std::string_view text, std::string_view end) {
  return text.size() >= end.size() && EqualsIgnoreCase(text.substr(text.size() - end.size()), end);
}

bool StartsWith(std::string_view text, std::string_view start) {
  return text.substr(0, start.size()) == start;
}

}  // namespace

bool IsMd5Package(std::string_view path) { return EndsWithIgnoringCase(path, "MD5"); }

bool CheckPackageMd5(const std::string& path, const std::function<void(const std::string&)>& log,
                     const std::function<void(const std::string&, const std::string&)>& message,
                     Md5Failure* failure) {
  log("Enter CS for MD5..");
  log("Check MD5.. Do not unplug the cable..");
  log("Please wait..");
  if (VerifyMd5Trailer(
          path, [&log](std::string_view line) { log(std::string(line)); }, failure)) {
    log("Checking MD5 finished Sucessfully..");
    log("Leave CS..");
    return true;
  }
  log(std::string(PathFileName(path)) + " is invalid.");
  log("End...");
  message("md5 error! Binary is invalid", "Mirk Downloader");
  return false;
}

int DropSlotOf(std::string_view path) {
  if (!IsMd5Package(path) && !EndsWithIgnoringCase(path, "TAR")) return -1;
  const std::string_view name = PathFileName(path);
  if (StartsWith(name, "BL")) return BL;
  if (StartsWith(name, "AP") || StartsWith(name, "ALL")) return AP;
  if (StartsWith(name, "CP")) return CP;
  if (StartsWith(name, "CSC") || StartsWith(name, "HOME_CSC")) return CSC;
  return -1;
}

std::string NormalizedPackageName(std::string_view path) {
  if (EndsWithIgnoringCase(path, ".gz")) return std::string(path.substr(0, path.size() - 3));
  if (EndsWithIgnoringCase(path, ".tgz")) {
    return std::string(path.substr(0, path.size() - 4)) + ".tar";
  }
  return std::string(path);
}

std::string BinarySizeText(const std::array<std::string, SLOT_COUNT>& paths,
                           const std::array<int32_t, SLOT_COUNT>& used) {
  uint64_t total = 0;
  // The window adds them up in this order: AP, CP, CSC, BL, UMS.
  for (int slot : {AP, CP, CSC, BL, UMS}) {
    struct stat st {};
    if (used[slot] && ::stat(paths[slot].c_str(), &st) == 0) total += static_cast<uint64_t>(st.st_size);
  }
  const uint64_t kib = total / 1024;
  return Format("%.1fMB", static_cast<double>(kib) / 1024.0);
}

}  // namespace mirk3
