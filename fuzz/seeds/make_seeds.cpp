// mirk3-fuzz-seeds CORPUS_DIR: writes every fuzz target's seed corpus into
// CORPUS_DIR/fuzz_<target>/seed-<n>, from the project's own packages, tables and records, so
// that each fuzzer starts inside its format. The phone's seeds are an emulated phone's real
// answers to whole runs. A new target adds one line to the table at the end.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "devsim/builtin_pit.h"
#include "devsim/farm_config.h"
#include "devsim/phone_farm.h"
#include "engine/download_engine.h"
#include "pack/md5_package.h"
#include "serial/serial_line.h"
#include "support/phone_run.h"
#include "support/sample_pit.h"
#include "support/scratch_dir.h"
#include "support/test_packages.h"
#include "wire/device_info_record.h"
#include "wire/one_click_trailer.h"
#include "wire/pit_record.h"

namespace {

using Seed = std::string;
using Seeds = std::vector<Seed>;
namespace fz = mirk3::fuzz;

[[noreturn]] void Die(const std::string& why) {
  std::fprintf(stderr, "mirk3-fuzz-seeds: %s\n", why.c_str());
  std::exit(1);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) Die("cannot read " + path);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

Seed Bytes(const std::vector<uint8_t>& bytes) { return {bytes.begin(), bytes.end()}; }

// A signed package of two members, as the station flashes one.
std::string SignedPackage() {
  const std::string path = fz::ScratchDir() + "/AP_seed.tar";
  mirk3::test::WriteSignedPackage(path,
                                  {{"boot.img", mirk3::test::TestBytes(1500, 1)},
                                   {"system.img", mirk3::test::TestBytes(700, 2)}},
                                  fz::PhoneRunModel());
  return ReadFile(path);
}

std::string Md5Package() {
  const std::string tar = fz::ScratchDir() + "/AP_fuzz.tar";
  mirk3::test::WriteTar(tar, {{"boot.img", mirk3::test::TestBytes(900, 3)}});
  std::string error;
  if (!mirk3::pack::WriteMd5Package(tar, error)) Die(error);
  return ReadFile(tar + ".md5");
}

Seeds FileAnalysisSeeds() { return {'\0' + SignedPackage(), '\0' + Md5Package()}; }

Seeds MetaDataSeeds() { return {SignedPackage()}; }

Seeds PitSeeds() {
  mirk3::PitTable two;
  two.entries = {mirk3::test::SamplePitEntry(5, "boot.img"),
                 mirk3::test::SamplePitEntry(6, "system.img")};
  const Seed builtin = Bytes(mirk3::devsim::BuiltinPit());
  return {builtin, Bytes(mirk3::EncodePitTable(two)), builtin.substr(0, builtin.size() - 70)};
}

Seeds DeviceInfoSeeds() {
  const std::vector<mirk3::DeviceInfoItem> items = {
      {mirk3::DEVINFO_ITEM_TEXT, mirk3::devsim::DEVICE_TEXT},
      {mirk3::DEVINFO_ITEM_MODEL, fz::PhoneRunModel()}};
  return {Bytes(mirk3::BuildDeviceInfo(items)),
          std::string(fz::PhoneRunModel()) + '\0' + mirk3::devsim::DEVICE_TEXT};
}

// The name byte 0 picks "AP_fuzz.tar.md5", the name the package was made under.
Seeds Md5Seeds() { return {'\0' + Md5Package()}; }

// A program carrying one plain tar in its AP slot and the built-in table.
Seeds OneClickSeeds() {
  const std::string tar = fz::ScratchDir() + "/AP_oneclick.tar";
  mirk3::test::WriteTar(tar, {{"boot.img", mirk3::test::TestBytes(1200, 4)}});
  const std::string package = ReadFile(tar);
  const Seed pit = Bytes(mirk3::devsim::BuiltinPit());
  mirk3::OneClickTrailer trailer;
  const std::string program(512, 'p');
  trailer.slots[mirk3::AP] = {512, static_cast<uint32_t>(package.size()), mirk3::ONECLICK_TAR};
  trailer.pitOffset = static_cast<uint32_t>(512 + package.size());
  trailer.pitSize = static_cast<uint32_t>(pit.size());
  trailer.autoReboot = 1;
  for (const char c : std::string(mirk3::ONECLICK_TITLE)) trailer.title.push_back(c);
  const auto encoded = trailer.Encode();
  return {program + package + pit + std::string(encoded.begin(), encoded.end())};
}

// The emulated phone answers at once; a loaded machine gets a generous limit, a hung phone
// does not hold the build up for the default five minutes.
mirk3::Timing RecordingTiming() {
  mirk3::Timing timing;
  timing.openAttempts = 1;
  timing.openSettle = mirk3::Millis{0};
  timing.firstByteTimeout = mirk3::Millis{20000};
  return timing;
}

// The serial line to an emulated phone, keeping every byte the phone said.
class RecordingLine : public mirk3::ByteLine {
 public:
  RecordingLine(const std::string& portDir, int port) : serial_(RecordingTiming(), portDir) {
    if (!serial_.OpenPort(port)) Die("cannot open the emulated phone: " + serial_.OpenProblem());
  }
  bool WriteData(const void* buffer, int length) override {
    return serial_.WriteData(buffer, length);
  }
  bool WriteWhileWaiting(const void* buffer, int length,
                         const std::function<bool()>& whileBlocked) override {
    return serial_.WriteWhileWaiting(buffer, length, whileBlocked);
  }
  bool ReadData(void* buffer, int length) override {
    if (!serial_.ReadData(buffer, length)) return false;
    heard.append(static_cast<const char*>(buffer), static_cast<size_t>(length));
    return true;
  }
  bool ClosePort() override { return serial_.ClosePort(); }
  mirk3::LineError LastError() const override { return serial_.LastError(); }

  std::string heard;

 private:
  mirk3::CWinRs232cSync serial_;
};

// The choice byte and what a phone of the farm's defaults answered to that run.
Seed RecordedRun(uint8_t choices) {
  mirk3::devsim::FarmConfig config;
  config.portDir = fz::ScratchDir();
  config.ports = {0};
  config.discard = true;
  mirk3::devsim::PhoneFarm farm(config);
  std::string error;
  if (!farm.Start(&error)) Die("cannot start an emulated phone: " + error);
  const auto line = std::make_shared<RecordingLine>(config.portDir, 0);
  bool passed = false;
  {
    mirk3::CDownloadEngine engine(nullptr, 0, fz::PhoneRunContext(line));
    engine.CopyOptions(fz::PhoneRunOptions(choices));
    passed = engine.RunSteps();
  }
  farm.Stop();
  if (!passed) Die("the emulated phone did not pass run " + std::to_string(choices));
  return static_cast<char>(choices) + line->heard;
}

Seeds PhoneSeeds() {
  using namespace mirk3::fuzz;
  return {RecordedRun(AUTO_REBOOT), RecordedRun(SHORT_SEQUENCE),
          RecordedRun(FLASH_LOCK | REPARTITION | AUTO_REBOOT),
          RecordedRun(MODEM_PACKAGE | NAND_ERASE | T_FLASH | RTN)};
}

Seed Words(std::initializer_list<std::string> words, char program) {
  Seed seed(1, program);
  for (const std::string& word : words) seed += word + '\0';
  seed.pop_back();
  return seed;
}

// Program 0 is mirk3-devsim, 1 `mirk3-cli flash`, 2 mirk3-pack, 3 to 7 the mirk3-cli commands
// md5, verify, inspect, pit and station.
Seeds CommandLineSeeds() {
  return {Words({"--ports", "0-3", "--protocol", "3", "--fail", "1:102/3:-4"}, 0),
          Words({"--help"}, 0),
          Words({"--ap", "AP.tar.md5", "--port", "0,2-4", "--packet-size", "131072",
                 "--open-attempts", "3", "--repartition", "--pit", "a.pit"},
                1),
          Words({"sign", "--key", "k.private", "--model", "MIRK3-DEMO", "in.tar", "out.tar"}, 2),
          Words({"oneclick", "--exe", "p", "--ap", "a.tar", "--ap-type", "4", "--out", "o"}, 2),
          Words({"AP.tar.md5", "CP.tar.md5"}, 3),
          Words({"--meta-key", "k.public", "AP.tar"}, 4),
          Words({"--csc", "CSC.tar", "AP.tar", "BL.tar"}, 5),
          Words({"--port", "3", "--out", "t.pit", "--first-byte-timeout-ms", "500"}, 6),
          Words({"--auto", "2", "--runs", "3", "--no-bus", "--ap", "AP.tar", "CSC_x.tar.md5",
                 "--results", "r.jsonl"},
                7)};
}

// Settings files as stations carry them: the keys of the window, ours, repeats, quotes.
Seeds SettingsSeeds() {
  return {"[Option]\r\nTitle=Line 3\r\nFactoryResetTime=1\r\nPacketSize=1048576\r\n"
          "OptionEnable=0\r\n[APOption]\r\nRePartition=1\r\nAutoReboot=0\r\n",
          "; comment\n[option]\n  title = \"Quoted ; title\" \n[ButtonOption]\nUMS/PATCH=0\n"
          "[Ports]\nUsbVendorId=04e8\n[Slots]\n0=1-1.3\n7=12\n0=2\n[D300Jig]\nD300COM=3\n"
          "Position1=1-1.3\n",
          "[Option]\nPacketSize=-99999999999\nFactoryResetTime=+7x\n[Option]\nTitle=late\n"};
}

// Jig answers: a check answer's length, the check answer, the start frame's answer.
Seeds JigSeeds() {
  return {std::string("\x08:VEMU01\xaa:S1ADST\x30", 18), std::string("\x05:VEMU", 6),
          std::string("\x28", 1) + std::string(40, 'V')};
}

struct Target {
  const char* name;
  std::function<Seeds()> seeds;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) Die("usage: mirk3-fuzz-seeds CORPUS_DIR");
  const Target targets[] = {
      {"file_analysis", FileAnalysisSeeds},
      {"meta_data_parse", MetaDataSeeds},
      {"pit_table", PitSeeds},
      {"device_info", DeviceInfoSeeds},
      {"md5_trailer", Md5Seeds},
      {"one_click_trailer", OneClickSeeds},
      {"phone", PhoneSeeds},
      {"command_line", CommandLineSeeds},
      {"settings_file", SettingsSeeds},
      {"jig_reply", JigSeeds},
  };
  for (const Target& target : targets) {
    const std::filesystem::path dir =
        std::filesystem::path(argv[1]) / ("fuzz_" + std::string(target.name));
    std::filesystem::create_directories(dir);
    int n = 0;
    for (const Seed& seed : target.seeds()) {
      std::ofstream(dir / ("seed-" + std::to_string(++n)), std::ios::binary) << seed;
    }
  }
  return 0;
}
