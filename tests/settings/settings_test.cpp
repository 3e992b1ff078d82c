// Mirk3.ini as the station reads it: the Windows reader's rules for names, blanks, quotes,
// length, repeats and numbers; the keys and defaults of every option; the presence test; and
// how long each enable rule lasts.
#include <gtest/gtest.h>

#include <string>

#include "settings/control_enables.h"
#include "settings/settings.h"
#include "support/temp_dir.h"

namespace mirk3 {
namespace {

Settings FromFile(const std::string& text) {
  test::TempDir dir;
  test::WriteFile(dir / "Mirk3.ini", text);
  return LoadSettingsFile(dir / "Mirk3.ini");
}

TEST(IniReader, ReadsValuesAsTheWindowsReaderDoes) {
  const std::string longValue(300, 'x');
  const std::string longKorean(300, 'k');
  const IniFile file = IniFile::Parse(
      "\xEF\xBB\xBF; a comment line\r\n"
      "[option]\r\n"
      "  TITLE  =   \"Line 7 ; station\"  \r\n"
      "title=second\n"
      "Quoted='single'\n"
      "Half=\"open\n"
      "Long=" + longValue + "\n"
      "Wide=" + std::string(258, 'a') + "\xED\x95\x9C\xED\x95\x9C\n"
      "no equals sign here\n"
      "[ Option ]\n"
      "Late=from a repeated section\n"
      "[Numbers]\n"
      "a=  42abc\nb=-17\nc=abc\nd=+5\ne=99999999999\nf=\ng=-99999999999\n");
  const struct {
    const char *section, *key, *expected;
  } cases[] = {
      {"OPTION", "title", "Line 7 ; station"},  // names ignore case; no inline comments
      {"Option", "Quoted", "single"},
      {"Option", "Half", "\"open"},           // an unmatched quote stays
      {"Option", "Late", "(default)"},        // a repeated section is never read
      {"Option", "Missing", "(default)"},
      {"Missing", "Title", "(default)"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(file.String(c.section, c.key, "(default)"), c.expected) << c.key;
  }
  EXPECT_EQ(file.String("Option", "Long", ""), longValue.substr(0, 259));
  // The cut counts characters, not bytes: 258 letters and the first of two Hangul syllables.
  EXPECT_EQ(file.String("Option", "Wide", ""), std::string(258, 'a') + "\xED\x95\x9C");
  const struct {
    const char* key;
    int32_t value;
  } numbers[] = {{"a", 42}, {"b", -17}, {"c", 0}, {"d", 5}, {"e", INT32_MAX},
                 {"f", 0},  {"g", INT32_MIN}};
  for (const auto& n : numbers) EXPECT_EQ(file.Integer("Numbers", n.key, "7"), n.value) << n.key;
  EXPECT_EQ(file.Integer("Numbers", "absent", "7"), 7);
}

TEST(Settings, AMissingFileGivesEveryDefaultAndFailsThePresenceTest) {
  test::TempDir dir;
  const Settings s = LoadSettingsFile(dir / "nowhere.ini");
  EXPECT_FALSE(s.present);
  EXPECT_STREQ(SETTINGS_MISSING_MESSAGE, "Mirk3.ini 파일이 없습니다");
  EXPECT_EQ(s.title, "[Android + Vexa]");
  // A file whose Title is the absent marker itself counts as missing too.
  EXPECT_FALSE(FromFile("[Option]\nTitle=Mirk3. [Android + Vexa]\nPacketSize=5\n").present);
  EXPECT_TRUE(FromFile("[Option]\nTitle=mirk3. [android + vexa]\n").present)
      << "the comparison is case-sensitive";
}

TEST(Settings, AFileWithOnlyATitleTakesEveryOtherDefault) {
  const Settings s = FromFile("[Option]\nTitle=Line 7\n");
  EXPECT_TRUE(s.present);
  EXPECT_EQ(s.title, "Line 7");
  EXPECT_EQ(s.packetSize, 1048576);
  EXPECT_EQ(s.factoryResetTime, 1);
  EXPECT_EQ(s.options.AutoReboot, 1);
  EXPECT_EQ(s.options.FResetTime, 1);
  EXPECT_EQ(s.options.RePartition + s.options.PhoneEFSClear + s.options.PhoneBootUpdate +
                s.options.FlashLock + s.options.NandErase + s.options.TFlash,
            0);

  ControlEnables enables;
  enables.ApplySettings(s);
  for (ControlId c : PACKAGE_BUTTONS) EXPECT_TRUE(enables.Enabled(c)) << c;
  EXPECT_TRUE(enables.Enabled(CONTROL_FLASH_LOCK));
  EXPECT_FALSE(enables.Enabled(CONTROL_EFS_CLEAR));
  EXPECT_FALSE(enables.Enabled(CONTROL_BOOT_UPDATE));
  EXPECT_FALSE(enables.Enabled(CONTROL_DEVICE_INFO));
}

TEST(Settings, EveryKeyReachesItsOptionAndTheResetDefaults) {
  const Settings s = FromFile(
      "[Option]\nTitle=T\nFactoryResetTime=4\nPacketSize=abc\nRtnForSprint=2\n"
      "[APOption]\nRePartition=1\nAutoReboot=0\nFResetTime=0\nFlashLock=1\nNandErase=1\n"
      "TFlash=3\n[CPOption]\nPhoneEFSClear=1\nPhoneBootUpdate=1\n"
      "[ButtonOption]\nBootloader=0\nPDA=1\nPhone=0\nCSC=1\nUMS/PATCH=0\n");
  EXPECT_EQ(s.factoryResetTime, 4);
  EXPECT_EQ(s.packetSize, 0) << "the engine replaces 0 by its own default";
  EXPECT_EQ(s.rtnForSprintEnable, 1);
  const RunFlags& o = s.options;
  const RunFlags& d = s.resetDefaults;
  EXPECT_EQ((std::vector<int32_t>{o.RePartition, o.AutoReboot, o.FResetTime, o.FlashLock,
                                  o.NandErase, o.TFlash, o.PhoneEFSClear, o.PhoneBootUpdate}),
            (std::vector<int32_t>{1, 0, 0, 1, 1, 1, 1, 1}));
  EXPECT_EQ((std::vector<int32_t>{d.RePartition, d.AutoReboot, d.FResetTime, d.FlashLock,
                                  d.NandErase, d.TFlash, d.PhoneEFSClear, d.PhoneBootUpdate}),
            (std::vector<int32_t>{1, 0, 0, 1, 1, 1, 1, 1}));
  EXPECT_EQ(o.deviceInfo, 0) << "the Device Info box always starts off";
  EXPECT_EQ((std::vector<int32_t>(s.enablePackage, s.enablePackage + 5)),
            (std::vector<int32_t>{0, 1, 0, 1, 0}));
}

// OptionEnable, PhoneEnable and the package-button flags come back after every busy spell; the
// Device Info box is not switched by a busy spell at all.
TEST(Settings, EnableRulesLastAsLongAsTheWindowKeepsThem) {
  const Settings s = FromFile(
      "[Option]\nTitle=T\nOptionEnable=0\nPhoneEnable=0\nDeviceInfo=0\n"
      "[ButtonOption]\nUMS/PATCH=0\n");
  ControlEnables enables;
  enables.ApplySettings(s);
  EXPECT_FALSE(enables.Enabled(CONTROL_FLASH_LOCK));
  EXPECT_FALSE(enables.Enabled(CONTROL_PICK_UMS));
  enables.SetBusy(true, s);
  EXPECT_FALSE(enables.Enabled(CONTROL_START));
  EXPECT_FALSE(enables.Enabled(CONTROL_PICK_BL));
  enables.SetBusy(false, s);
  EXPECT_TRUE(enables.Enabled(CONTROL_START));
  EXPECT_FALSE(enables.Enabled(CONTROL_FLASH_LOCK));
  EXPECT_FALSE(enables.Enabled(CONTROL_NAND_ERASE)) << "erases phones: kept off for good";
  EXPECT_FALSE(enables.Enabled(CONTROL_EFS_CLEAR));
  EXPECT_FALSE(enables.Enabled(CONTROL_PICK_UMS));
  EXPECT_FALSE(enables.Enabled(CONTROL_USE_UMS));
  EXPECT_FALSE(enables.Enabled(CONTROL_DEVICE_INFO));
}

TEST(Settings, OurKeysAndTheProblemsTheyCanHave) {
  const Settings s = FromFile(
      "[Option]\nTitle=T\nMetaDataKey=/etc/mirk3/key.pub\nLogDir=/var/log/mirk3\n"
      "[Ports]\nUsbVendorId=0x04E8\n"
      "[Slots]\n0=7\n1=1-1.3\n2=1-1.3.4.2\n0=9\n56=3\nx=2\n3=usb\n");
  EXPECT_EQ(s.metaDataKey, "/etc/mirk3/key.pub");
  EXPECT_EQ(s.logDir, "/var/log/mirk3");
  EXPECT_EQ(s.usbVendorId, uint16_t{0x04e8});
  ASSERT_EQ(s.slots.size(), 3u);
  EXPECT_EQ(s.slots.at(0).port, 7);
  EXPECT_EQ(s.slots.at(1).usbPath, "1-1.3");
  EXPECT_EQ(s.slots.at(2).usbPath, "1-1.3.4.2");
  EXPECT_EQ(s.problems.size(), 4u) << "a repeated slot, slot 56, slot x, value usb";
  EXPECT_FALSE(FromFile("[Option]\nTitle=T\n[Ports]\nUsbVendorId=xyz\n").usbVendorId);
}

}  // namespace
}  // namespace mirk3
