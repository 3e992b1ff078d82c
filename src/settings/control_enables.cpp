#include "settings/control_enables.h"

namespace mirk3 {
namespace {

constexpr ControlId ALL_CONTROLS[] = {
    CONTROL_REPARTITION, CONTROL_AUTO_REBOOT, CONTROL_F_RESET_TIME, CONTROL_DEVICE_INFO,
    CONTROL_EFS_CLEAR,   CONTROL_BOOT_UPDATE, CONTROL_START,        CONTROL_RESET,
    CONTROL_EXIT,        CONTROL_USE_AP,      CONTROL_USE_CP,       CONTROL_USE_CSC,
    CONTROL_USE_BL,      CONTROL_PICK_PIT,    CONTROL_PICK_AP,      CONTROL_PICK_CP,
    CONTROL_PICK_CSC,    CONTROL_PICK_BL,     CONTROL_MASS_DL,      CONTROL_USE_UMS,
    CONTROL_PICK_UMS,    CONTROL_NAND_ERASE,  CONTROL_FLASH_LOCK,   CONTROL_RTN_FOR_SPRINT,
    CONTROL_T_FLASH};

// The eight option boxes [Option] OptionEnable governs.
constexpr ControlId OPTION_BOXES[] = {CONTROL_FLASH_LOCK,  CONTROL_REPARTITION,
                                      CONTROL_AUTO_REBOOT, CONTROL_F_RESET_TIME,
                                      CONTROL_EFS_CLEAR,   CONTROL_BOOT_UPDATE,
                                      CONTROL_NAND_ERASE,  CONTROL_T_FLASH};

// The controls a busy spell switches: the option boxes, the package boxes and buttons, the PIT
// button, Mass D/L, Start, Reset and Exit.
constexpr ControlId BUSY_CONTROLS[] = {
    CONTROL_FLASH_LOCK, CONTROL_REPARTITION, CONTROL_AUTO_REBOOT, CONTROL_F_RESET_TIME,
    CONTROL_EFS_CLEAR,  CONTROL_BOOT_UPDATE, CONTROL_NAND_ERASE,  CONTROL_T_FLASH,
    CONTROL_USE_AP,     CONTROL_USE_CP,      CONTROL_USE_CSC,     CONTROL_USE_BL,
    CONTROL_USE_UMS,    CONTROL_PICK_PIT,    CONTROL_PICK_AP,     CONTROL_PICK_CP,
    CONTROL_PICK_CSC,   CONTROL_PICK_BL,     CONTROL_PICK_UMS,    CONTROL_MASS_DL,
    CONTROL_START,      CONTROL_RESET,       CONTROL_EXIT};

}  // namespace

ControlEnables::ControlEnables() {
  for (ControlId control : ALL_CONTROLS) enabled_[control] = true;
}

void ControlEnables::ApplyPackageFlags(const Settings& settings) {
  for (int slot = 0; slot < 5; ++slot) {
    enabled_[PACKAGE_BUTTONS[slot]] = settings.enablePackage[slot] != 0;
    enabled_[PACKAGE_BOXES[slot]] = settings.enablePackage[slot] != 0;
  }
}

void ControlEnables::ApplySettings(const Settings& settings) {
  ApplyPackageFlags(settings);
  ApplyOptionRestrictions(settings);
  if (!settings.deviceInfoEnable) enabled_[CONTROL_DEVICE_INFO] = false;
}

// Nand Erase All and Phone EFS Clear erase phones: a station set up without them keeps them off
// for its whole life, not only until the first busy spell ends.
void ControlEnables::ApplyOptionRestrictions(const Settings& settings) {
  if (!settings.optionEnable) {
    for (ControlId control : OPTION_BOXES) enabled_[control] = false;
  }
  if (!settings.phoneEnable) {
    enabled_[CONTROL_BOOT_UPDATE] = false;
    enabled_[CONTROL_EFS_CLEAR] = false;
  }
}

void ControlEnables::SetBusy(bool on, const Settings& settings) {
  for (ControlId control : BUSY_CONTROLS) enabled_[control] = !on;
  if (on) return;
  ApplyPackageFlags(settings);
  ApplyOptionRestrictions(settings);
}

bool ControlEnables::Enabled(ControlId control) const {
  const auto it = enabled_.find(control);
  return it != enabled_.end() && it->second;
}

}  // namespace mirk3
