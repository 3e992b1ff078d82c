// The firmware update step: every placed member of every chosen slot goes to the phone, slot by
// slot in the order BL, AP, CP, CSC, UMS.
#include "engine/download_engine.h"

namespace mirk3 {

bool CDownloadEngine::FirmwareUpdateStep(const DownloadPlan& plan) {
  ReportText(WM_DL_START, static_cast<int64_t>(plan.packageTotal), "Firmware update start..");
  Report(WM_DL_LOG, 0, "SingleDownload.");
  const ChosenPackages packages = Packages();
  MemberSender sender(packets_, reports_, packages);
  for (int slot = 0; slot < SLOT_COUNT; ++slot) {
    if (packages.Chosen(slot) && !sender.SendSlot(slot, placed_[slot])) return false;
  }
  return true;
}

}  // namespace mirk3
