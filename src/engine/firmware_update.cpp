// The firmware update step: every placed member of every chosen slot goes to the phone, slot by
// slot in the order BL, AP, CP, CSC, UMS.
#include "engine/download_engine.h"

namespace mirk3 {

bool CDownloadEngine::FirmwareUpdateStep(const DownloadPlan& plan) {
  reports_.Tell(DownloadStarted{plan.packageTotal, "Firmware update start.."});
  reports_.Notef("SingleDownload.");
  const ChosenPackages packages = Packages();
  MemberSender sender(packets_, reports_, packages);
  for (int slot = 0; slot < SLOT_COUNT; ++slot) {
    if (packages.Chosen(slot) && !sender.SendSlot(slot, placed_[slot])) return false;
  }
  return true;
}

}  // namespace mirk3
