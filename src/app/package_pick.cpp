#include "app/package_pick.h"

#include "app/station.h"
#include "base/text.h"
#include "packages/md5_trailer.h"

namespace mirk3 {
namespace {

void LogLine(StationView& face, std::string_view text) {
  face.AppendLog(FormatLogLine(-1, NO_PORT, std::string(text)));
}

}  // namespace

bool IsMd5Package(std::string_view path) {
  return path.size() >= 3 && EqualsIgnoreCase(path.substr(path.size() - 3), "MD5");
}

bool CheckPackageMd5(const std::string& path, StationView& face, Md5Failure* failure) {
  LogLine(face, "Enter CS for MD5..");
  LogLine(face, "Check MD5.. Do not unplug the cable..");
  LogLine(face, "Please wait..");
  if (VerifyMd5Trailer(
          path, [&face](std::string_view line) { LogLine(face, line); }, failure)) {
    LogLine(face, "Checking MD5 finished Sucessfully..");
    LogLine(face, "Leave CS..");
    return true;
  }
  LogLine(face, std::string(PathFileName(path)) + " is invalid.");
  LogLine(face, "End...");
  face.ShowMessage("md5 error! Binary is invalid");
  return false;
}

bool PickPackage(int slot, const std::string& path, DownloadOptions& chosen, StationView& face) {
  const bool taken = !IsMd5Package(path) || CheckPackageMd5(path, face);
  chosen.slotEnabled[slot] = taken ? 1 : 0;
  chosen.slotPath[slot] = taken ? path : std::string();
  return taken;
}

}  // namespace mirk3
