// The command lines of the three programs, run as an operator runs them: --help from anywhere
// on the line lists every option with its default, --version answers the project's version,
// --opt=value and port lists work, and a mistake is one line on standard error with exit
// status 2. Also the port lists and numbers every command line reads.
#include "cmdline/command_line.h"

#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <regex>
#include <sstream>

#include "cmdline/port_list.h"
#include "support/program_run.h"
#include "support/temp_dir.h"
#include "support/test_packages.h"

namespace mirk3 {
namespace {

TEST(CommandLine, PortListsAndNumbers) {
  EXPECT_EQ(ParsePortList("0-7,12", 4095), (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 12}));
  EXPECT_EQ(ParsePortList("12,3,3-4", 4095), (std::vector<int>{12, 3, 3, 4}))
      << "in the order written, a repeat kept";
  EXPECT_EQ(ParsePortList("4095,010", 4095), (std::vector<int>{4095, 10}));
  for (const char* bad :
       {"", "3-1", "a", "1,", ",1", "1-", "-1", "4096", "1;2", "1 2", "+1", "0x1", "1--2"}) {
    EXPECT_FALSE(ParsePortList(bad, 4095)) << bad;
  }
  EXPECT_FALSE(ParsePortList("256", 255));

  const struct {
    const char* text;
    int64_t max;
    std::optional<int64_t> value;
  } numbers[] = {
      {"010", 100, 10},  // decimal, not octal
      {"-4", 100, -4},
      {"0", 100, 0},
      {"9223372036854775807", INT64_MAX, INT64_MAX},
      {"9223372036854775808", INT64_MAX, std::nullopt},
      {"99999999999999999999", INT64_MAX, std::nullopt},
      {"101", 100, std::nullopt},
      {"-6", 100, std::nullopt},
  };
  for (const auto& n : numbers) EXPECT_EQ(DecimalNumber(n.text, -5, n.max), n.value) << n.text;
  for (const char* bad : {"", "-", "x", "0x10", "+1", " 1", "1 ", "1e3", "1.0", "-0"}) {
    EXPECT_FALSE(DecimalNumber(bad, -5, 100)) << bad;
  }
}

// The version the build gives the project.
std::string ProjectVersionOfTheBuild() {
  std::ifstream in(std::string(MIRK3_SOURCE_DIR) + "/CMakeLists.txt");
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::smatch match;
  EXPECT_TRUE(std::regex_search(text, match, std::regex(R"(project\(mirk3 VERSION ([0-9.]+))")));
  return match.size() > 1 ? match[1].str() : "";
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The help line of `option`: the line whose first word it is.
std::string HelpLine(const std::string& help, const std::string& option) {
  for (const std::string& line : Lines(help)) {
    std::istringstream words(line);
    std::string first;
    words >> first;
    if (first == option || first == "-h," + option) return line;
  }
  return "";
}

struct Case {
  std::string args;
  int status = 0;
  std::vector<std::string> options = {};      // listed by the help, each with its default
  std::vector<std::string> destructive = {};  // their help lines say so
  std::vector<std::string> shown = {};        // on standard output, in this order
  std::string mistake = {};                   // named in the one line on standard error
};

void Check(const std::string& program, const std::vector<Case>& cases, const test::TempDir& dir) {
  for (const Case& c : cases) {
    const test::ProgramRun run =
        test::RunProgram(std::string(MIRK3_BIN_DIR) + "/" + program + " " + c.args, dir / "err");
    const std::string err = test::ReadFile(dir / "err");
    const std::string shownAs = program + " " + c.args;
    EXPECT_EQ(run.status, c.status) << shownAs << "\n" << run.out << err;
    for (const std::string& option : c.options) {
      EXPECT_NE(HelpLine(run.out, option).find("(default: "), std::string::npos)
          << shownAs << ": " << option << "\n"
          << run.out;
    }
    for (const std::string& option : c.destructive) {
      EXPECT_NE(HelpLine(run.out, option).find("DESTRUCTIVE"), std::string::npos) << option;
    }
    size_t at = 0;
    for (const std::string& part : c.shown) {
      at = run.out.find(part, at);
      EXPECT_NE(at, std::string::npos) << shownAs << ": " << part << "\n" << run.out;
    }
    if (c.mistake.empty()) continue;
    EXPECT_EQ(run.out, "") << shownAs;
    ASSERT_EQ(Lines(err).size(), 1u) << shownAs << ": " << err;
    EXPECT_EQ(err.rfind(program, 0), 0u) << err;
    EXPECT_NE(err.find(c.mistake), std::string::npos) << shownAs << ": " << err;
  }
}

const std::vector<std::string> kSlots = {"--bl", "--ap", "--cp", "--csc", "--ums"};
const std::vector<std::string> kLine = {"--port", "--port-dir", "--open-attempts",
                                        "--first-byte-timeout-ms"};

std::vector<std::string> Joined(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(CommandLine, MirkCli) {
  test::TempDir dir;
  std::filesystem::create_directories(dir / "ports");
  const std::vector<std::string> flashOptions =
      Joined(Joined(kSlots, kLine),
             {"--pit", "--repartition", "--no-auto-reboot", "--reset-time", "--no-reset-time",
              "--device-info", "--flash-lock", "--nand-erase", "--t-flash", "--efs-clear",
              "--boot-update", "--rtn", "--packet-size", "--meta-key"});
  const std::vector<std::string> destructive = {"--repartition", "--nand-erase", "--efs-clear"};
  // Absent phones fail at once, but every port is placed first, in the order given.
  const std::string absent =
      " --device-info --no-reset-time --open-attempts=1 --port-dir " + (dir / "ports");
  const std::vector<Case> cases = {
      {.args = "--help",
       .shown = {"--version", "Commands:", "flash", "md5", "verify", "inspect", "pit"}},
      {.args = "flash --port 3 --bogus --help",
       .options = flashOptions,
       .destructive = destructive},
      {.args = "flash --port x -h", .options = flashOptions, .destructive = destructive},
      {.args = "inspect a.tar --help", .options = Joined(kSlots, {"--one-click", "--meta-key"})},
      {.args = "pit --port 1 --out --help", .options = Joined(kLine, {"--out"})},
      {.args = "verify --help x.tar", .options = {"--meta-key"}},
      {.args = "md5 --help", .shown = {"usage: mirk3-cli md5", "FILE"}},
      {.args = "--version", .shown = {"mirk3-cli " + ProjectVersionOfTheBuild() + "\n"}},
      {.args = "flash --port=0-2,010 --port 7" + absent,
       .status = 1,
       .shown = {"<ID:0/000> Added!!", "<ID:1/001> Added!!", "<ID:2/002> Added!!",
                 "<ID:3/010> Added!!", "<ID:4/007> Added!!", "(succeed 0 / failed 5)"}},
      // A value that names another command is still the value.
      {.args = "flash --port-dir ports --port 0 --device-info --open-attempts=1",
       .status = 1,
       .shown = {"<ID:0/000> Added!!", "(succeed 0 / failed 1)"}},
      {.args = "flash --port 1 --frobnicate", .status = 2, .mistake = "--frobnicate"},
      {.args = "flash --port 1 --packet-size 12x", .status = 2, .mistake = "--packet-size"},
      {.args = "flash --port 1 --reset-time=-1", .status = 2, .mistake = "--reset-time"},
      {.args = "flash --port 256", .status = 2, .mistake = "--port"},
      {.args = "flash --port 1 --ap --device-info", .status = 2, .mistake = "--ap"},
      {.args = "pit --port 1 --out x.pit --open-attempts 0x10",
       .status = 2,
       .mistake = "--open-attempts"},
      {.args = "pit --port 1 --out x.pit --first-byte-timeout-ms 0",
       .status = 2,
       .mistake = "--first-byte-timeout-ms"},
      {.args = "inspect --ap a.tar --ap b.tar", .status = 2, .mistake = "--ap"},
      {.args = "verify --meta-key", .status = 2, .mistake = "--meta-key"},
      {.args = "md5 --fast x.tar.md5", .status = 2, .mistake = "--fast"},
      {.args = "explode", .status = 2, .mistake = "explode"},
  };
  Check("mirk3-cli", cases, dir);
}

TEST(CommandLine, MirkDevsim) {
  test::TempDir dir;
  const std::vector<std::string> options = {
      "--port-dir", "--ports",         "--protocol",     "--model",
      "--pit",      "--out",           "--discard",      "--trace",
      "--fail",     "--bad-handshake", "--silent",       "--vanish-after",
      "--erase-ms", "--port-model",    "--devinfo-size", "--devinfo-magic"};
  const std::vector<Case> cases = {
      {.args = "--help", .options = options},
      {.args = "--ports 1 --bogus --protocol x --help", .options = options},
      {.args = "--version", .shown = {"mirk3-devsim " + ProjectVersionOfTheBuild() + "\n"}},
      {.args = "--frobnicate", .status = 2, .mistake = "--frobnicate"},
      {.args = "--protocol 4x", .status = 2, .mistake = "--protocol"},
      {.args = "--protocol=65536", .status = 2, .mistake = "--protocol"},
      {.args = "--ports 0-3 --ports 1-", .status = 2, .mistake = "--ports"},
      {.args = "--fail 0:102/3", .status = 2, .mistake = "--fail"},
      {.args = "--erase-ms=0:5x", .status = 2, .mistake = "--erase-ms"},
  };
  Check("mirk3-devsim", cases, dir);
}

TEST(CommandLine, MirkPack) {
  test::TempDir dir;
  test::WriteTar(dir / "in.tar", {{"boot.img", "boot"}});
  const std::vector<std::string> oneClickOptions =
      Joined(Joined(kSlots, {"--bl-type", "--ap-type", "--cp-type", "--csc-type", "--ums-type"}),
             {"--exe", "--out", "--pit", "--repartition", "--no-auto-reboot", "--efs-clear",
              "--boot-update"});
  const std::vector<Case> cases = {
      {.args = "--help",
       .shown = {"--version", "Commands:", "md5", "keygen", "sign", "tar", "oneclick"}},
      {.args = "sign --key k --bogus --help", .options = {"--key", "--model", "--list-name"}},
      {.args = "oneclick --ap-type 9 --help",
       .options = oneClickOptions,
       .destructive = {"--repartition", "--efs-clear"}},
      {.args = "tar out.tar --help", .shown = {"usage: mirk3-pack tar", "OUT", "MEMBER"}},
      {.args = "--version", .shown = {"mirk3-pack " + ProjectVersionOfTheBuild() + "\n"}},
      {.args = "oneclick --exe=/bin/true --ap=" + (dir / "in.tar") +
               " --ap-type=4 --out=" + (dir / "station"),
       .shown = {"with AP (type 4)"}},
      {.args = "oneclick --exe /bin/true --ap in.tar --ap-type=7 --out x",
       .status = 2,
       .mistake = "--ap-type"},
      {.args = "sign --frobnicate --key k --model M a.tar b.tar",
       .status = 2,
       .mistake = "--frobnicate"},
      {.args = "oneclick --exe /bin/true --ap in.tar --ap in.tar --out x",
       .status = 2,
       .mistake = "--ap"},
      {.args = "frobnicate", .status = 2, .mistake = "frobnicate"},
  };
  Check("mirk3-pack", cases, dir);
}

}  // namespace
}  // namespace mirk3
