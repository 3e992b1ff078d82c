// Which of the window's controls can be used. The settings disable some at start-up; a run (or
// any other busy spell) disables the package, option and run controls and, when it ends, enables
// them all again and re-applies the settings' rules. So the package-button flags, OptionEnable
// and PhoneEnable (which keep Nand Erase All and Phone EFS Clear from the operator) hold for
// good, and DeviceInfo for good too: its box is not among the controls a busy spell switches.
#pragma once

#include <map>

#include "settings/settings.h"

namespace mirk3 {

// The controls whose enable state the station keeps, by the window's control numbers.
enum ControlId : int {
  CONTROL_REPARTITION = 1018,
  CONTROL_AUTO_REBOOT = 1019,
  CONTROL_F_RESET_TIME = 1020,
  CONTROL_DEVICE_INFO = 1021,
  CONTROL_EFS_CLEAR = 1025,
  CONTROL_BOOT_UPDATE = 1026,
  CONTROL_START = 1028,
  CONTROL_RESET = 1029,
  CONTROL_EXIT = 1030,
  CONTROL_USE_AP = 1031,
  CONTROL_USE_CP = 1032,
  CONTROL_USE_CSC = 1033,
  CONTROL_USE_BL = 1034,
  CONTROL_PICK_PIT = 1035,
  CONTROL_PICK_AP = 1036,
  CONTROL_PICK_CP = 1037,
  CONTROL_PICK_CSC = 1038,
  CONTROL_PICK_BL = 1039,
  CONTROL_MASS_DL = 1040,
  CONTROL_USE_UMS = 1047,
  CONTROL_PICK_UMS = 1048,
  CONTROL_NAND_ERASE = 1051,
  CONTROL_FLASH_LOCK = 1052,
  CONTROL_RTN_FOR_SPRINT = 1070,
  CONTROL_T_FLASH = 1071,
};

// The package button and check box of each slot, in slot order BL, AP, CP, CSC, UMS.
inline constexpr ControlId PACKAGE_BUTTONS[5] = {CONTROL_PICK_BL, CONTROL_PICK_AP, CONTROL_PICK_CP,
                                                 CONTROL_PICK_CSC, CONTROL_PICK_UMS};
inline constexpr ControlId PACKAGE_BOXES[5] = {CONTROL_USE_BL, CONTROL_USE_AP, CONTROL_USE_CP,
                                               CONTROL_USE_CSC, CONTROL_USE_UMS};

class ControlEnables {
 public:
  // Every control enabled, as the window starts.
  ControlEnables();
  // The settings' rules in their order: package buttons, OptionEnable, PhoneEnable, DeviceInfo.
  void ApplySettings(const Settings& settings);
  // The busy switch: on disables the controls of a run; off enables them and re-applies the
  // package-button flags, OptionEnable and PhoneEnable of `settings`.
  void SetBusy(bool on, const Settings& settings);
  bool Enabled(ControlId control) const;
  const std::map<ControlId, bool>& All() const { return enabled_; }

 private:
  void ApplyPackageFlags(const Settings& settings);
  void ApplyOptionRestrictions(const Settings& settings);

  std::map<ControlId, bool> enabled_;
};

}  // namespace mirk3
