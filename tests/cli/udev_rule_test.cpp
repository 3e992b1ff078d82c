// The udev rule: every line of it in udev's own syntax with keys udev knows (this machine's
// udevadm has no `verify`; where it has, the installed file is given to it as well), matching
// what was asked, and the file the package installs being the command's own output.
#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <sstream>

#include "cli/cli_udev_rule.h"
#include "support/program_run.h"
#include "support/temp_dir.h"

namespace mirk3 {
namespace {

struct Key {
  std::string name, attr, op, value;
};

// One rule line as udev reads it: KEY[{attr}] OP "value", separated by commas. Empty when
// the line does not parse or uses a key or operator udev would refuse.
std::vector<Key> ParseRule(const std::string& line) {
  static const std::regex KEY(
      R"(^\s*([A-Z_]+)(?:\{([A-Za-z0-9_]+)\})?\s*(==|!=|\+=|:=|=)\s*"([^"]*)\"\s*(,|$))");
  static const std::set<std::string> MATCH = {"ACTION",  "SUBSYSTEM", "SUBSYSTEMS", "KERNEL",
                                              "KERNELS", "DRIVERS",   "ATTRS",      "ENV"};
  static const std::set<std::string> ASSIGN = {"GROUP", "MODE", "SYMLINK", "ENV", "GOTO", "LABEL"};
  std::vector<Key> keys;
  std::smatch m;
  for (std::string rest = line; !rest.empty(); rest = m.suffix()) {
    if (!std::regex_search(rest, m, KEY)) return {};
    Key key{m[1], m[2], m[3], m[4]};
    const bool match = key.op == "==" || key.op == "!=";
    if (!(match ? MATCH : ASSIGN).count(key.name)) return {};
    if ((key.name == "ATTRS" || key.name == "ENV") && key.attr.empty()) return {};
    keys.push_back(key);
  }
  return keys;
}

// Every rule line, parsed; a GOTO goes to a LABEL of the file.
std::vector<std::vector<Key>> ParseRules(const std::string& text) {
  std::vector<std::vector<Key>> rules;
  std::set<std::string> gotos, labels;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (line.empty() || line[0] == '#') continue;
    rules.push_back(ParseRule(line));
    EXPECT_FALSE(rules.back().empty()) << "not a udev rule: " << line;
    for (const Key& key : rules.back()) {
      if (key.name == "GOTO") gotos.insert(key.value);
      if (key.name == "LABEL") labels.insert(key.value);
    }
  }
  for (const std::string& label : gotos) EXPECT_TRUE(labels.count(label)) << label;
  return rules;
}

// The values the rule that gives the ports away holds, "NAME{attr}op" to value.
std::map<std::string, std::string> DeviceRule(const std::vector<std::vector<Key>>& rules) {
  for (const auto& rule : rules) {
    std::map<std::string, std::string> keys;
    for (const Key& key : rule)
      keys[key.name + (key.attr.empty() ? "" : "{" + key.attr + "}") + key.op] = key.value;
    if (keys.count("GROUP=")) return keys;
  }
  return {};
}

TEST(UdevRule, ParsesAndHoldsWhatWasAsked) {
  const auto narrow = DeviceRule(ParseRules(UdevRule({0x04e8, 0x685d, "dialout"})));
  EXPECT_EQ(narrow.at("ATTRS{idVendor}=="), "04e8");
  EXPECT_EQ(narrow.at("ATTRS{idProduct}=="), "685d");
  EXPECT_EQ(narrow.at("GROUP="), "dialout");
  EXPECT_EQ(narrow.at("MODE="), "0660");
  EXPECT_EQ(narrow.at("ENV{ID_MM_DEVICE_IGNORE}="), "1");
  EXPECT_EQ(narrow.at("SYMLINK+="), "mirk3/usb-%b");
  EXPECT_EQ(narrow.at("DRIVERS=="), "usb");  // %b is then the USB device, not its interface

  const auto every = DeviceRule(ParseRules(UdevRule({})));
  EXPECT_FALSE(every.count("ATTRS{idVendor}=="));
  EXPECT_EQ(every.at("GROUP="), "plugdev");
}

TEST(UdevRule, TheInstalledFileIsTheCommandsOutput) {
  const std::string file = std::string(MIRK3_BIN_DIR) + "/../data/60-mirk3.rules";
  const std::string text = test::ReadFile(file);
  if (text.empty()) GTEST_SKIP() << file << " is not built (target mirk3_data)";
  EXPECT_EQ(text, UdevRule({}));
  const test::ProgramRun verify = test::RunProgram("udevadm verify --help >/dev/null 2>&1");
  if (verify.status == 0) {
    EXPECT_EQ(test::RunProgram("udevadm verify " + file).status, 0);
  }
}

TEST(UdevRule, TheCommandTakesTheSettingsVendorAndRefusesBadChoices) {
  test::TempDir dir;
  test::WriteFile(dir / "Mirk3.ini", "[Option]\nTitle=T\n[Ports]\nUsbVendorId=0x18D1\n");
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string said;  // in the output (status 0) or on standard error
  } const cases[] = {
      {{"--ini", dir / "Mirk3.ini"}, 0, "ATTRS{idVendor}==\"18d1\""},
      {{"--ini", dir / "Mirk3.ini", "--vendor", "04E8"}, 0, "ATTRS{idVendor}==\"04e8\""},
      {{"--ini", dir / "Mirk3.ini", "--group", "dialout"}, 0, "GROUP=\"dialout\""},
      {{"--vendor", "04e8x"}, 2, "--vendor 04e8x is not a hex USB id"},
      {{"--vendor", "12345"}, 2, "is not a hex USB id"},
      {{"--vendor", "04e8", "--group", "a\"b"}, 2, "is not a group name"},
      {{"--ini", "/dev/null", "--product", "685d"}, 2, "--product needs a vendor"},
  };
  for (const Case& c : cases) {
    std::ostringstream out, err;
    EXPECT_EQ(RunUdevRuleCommand(c.args, out, err), c.status) << c.said << err.str();
    EXPECT_NE((c.status == 0 ? out : err).str().find(c.said), std::string::npos)
        << c.said << "\n"
        << out.str() << err.str();
  }
}

}  // namespace
}  // namespace mirk3
