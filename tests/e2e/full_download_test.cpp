// The whole download end to end: packages of every slot written to emulated phones, every
// partition byte-identical to its member, partition tables uploaded and read, the announced
// total, sequences of every storage kind and end-of-sequence words on the wire, and failures
// that never pass silently.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "cli/cli_flash.h"
#include "devsim/builtin_pit.h"
#include "devsim/phone_farm.h"
#include "pack/md5_package.h"
#include "pack/tar_writer.h"
#include "packages/byte_source.h"
#include "packages/member_digest.h"
#include "support/station_harness.h"
#include "support/temp_dir.h"
#include "support/test_packages.h"
#include "wire/pit_record.h"

namespace mirk3 {
namespace {

using namespace std::chrono_literals;
using test::RunResult;
using test::TarEntry;
using Lines = std::vector<std::string>;
constexpr char kModel[] = "MIRK3-DEMO_EUR";

// A plain tar of members of the given sizes whose data are holes: a member of gigabytes costs
// neither disk space nor time to write.
void WriteSparseTar(const std::string& path,
                    const std::vector<std::pair<std::string, uint64_t>>& members) {
  uint64_t at = 0;
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (const auto& [name, size] : members) {
      const pack::TarHeaderBlock header = pack::MakeTarHeader(name, size);
      out.seekp(static_cast<std::streamoff>(at));
      out.write(reinterpret_cast<const char*>(header.data()), TAR_BLOCK_SIZE);
      at += TAR_BLOCK_SIZE + TarPaddedSize(size);
    }
  }
  std::filesystem::resize_file(path, at + 2 * TAR_BLOCK_SIZE);
}

// Two words as the phone's trace shows them: each a signed 32-bit number.
std::string TraceWords(uint32_t first, uint32_t second) {
  return std::to_string(static_cast<int32_t>(first)) + " " +
         std::to_string(static_cast<int32_t>(second));
}

class FullDownload : public ::testing::Test {
 protected:
  devsim::FarmConfig Farm(std::vector<int> ports) {
    devsim::FarmConfig config;
    config.portDir = dir / "ports";
    config.outDir = dir / "out";
    config.ports = std::move(ports);
    std::filesystem::create_directories(config.portDir);
    return config;
  }

  void StartFarm(const devsim::FarmConfig& config) {
    farm = std::make_unique<devsim::PhoneFarm>(config);
    std::string error;
    ASSERT_TRUE(farm->Start(&error)) << error;
  }

  std::string Package(const std::string& name, const std::vector<TarEntry>& members) {
    const std::string path = dir / name;
    test::WriteSignedPackage(path, members, kModel);
    return path;
  }

  DownloadOptions Options() {
    DownloadOptions options = DefaultRunOptions();
    options.PacketSize = 131072;
    return options;
  }

  static void Use(DownloadOptions& options, int slot, const std::string& path) {
    options.slotEnabled[slot] = 1;
    options.slotPath[slot] = path;
  }

  RunResult Run(const std::vector<int>& ports, const DownloadOptions& options) {
    EngineContext context;
    context.timing = test::QuickTiming();
    context.portDir = dir / "ports";
    return test::RunStation(ports, options, context);
  }

  std::string Written(int port, const std::string& partition) {
    return test::ReadFile(dir / ("out/ttyACM" + std::to_string(port) + "/" + partition));
  }

  // Requests of one type/sub-type as "w0 w1 ..." with `words` words.
  Lines Requests(int port, const std::string& which, size_t words) {
    Lines out;
    for (const auto& line : farm->Trace(port)) {
      std::istringstream in(line);
      std::string head, item, cut;
      in >> head;
      if (head != which) continue;
      for (size_t i = 0; i < words && in >> item; ++i) cut += (i ? " " : "") + item;
      out.push_back(cut);
    }
    return out;
  }

  test::TempDir dir;
  std::unique_ptr<devsim::PhoneFarm> farm;
};

TEST_F(FullDownload, EverySlotLandsByteIdenticalOnEveryPhone) {
  const std::string loader = test::TestBytes(70000, 1), param = test::TestBytes(1, 2);
  const std::string boot = test::TestBytes(300000, 3), system = test::TestBytes(1048576 * 2 + 7, 4);
  const std::string modem = test::TestBytes(200001, 5), cache = test::TestBytes(512, 6);
  const std::string efs = test::TestBytes(513, 7);
  DownloadOptions options = Options();
  Use(options, BL, Package("BL.tar", {{"loader.bin", loader}, {"param.bin", param}}));
  Use(options, AP, Package("AP.tar", {{"boot.img", boot}, {"system.img", system}}));
  Use(options, CP, Package("CP.tar", {{"modem.bin", modem}}));
  std::string error;
  const std::string csc = Package("CSC.tar", {{"cache.img", cache}});
  ASSERT_TRUE(pack::WriteMd5Package(csc, error)) << error;
  Use(options, CSC, csc + ".md5");
  Use(options, UMS, Package("UMS.tar", {{"efs.img", efs}}));
  StartFarm(Farm({0, 1}));

  const RunResult result = Run({0, 1}, options);
  EXPECT_EQ(result.succeeded, 2) << ::testing::PrintToString(result.log);
  for (int port : {0, 1}) {
    EXPECT_EQ(Written(port, "BOOTLOADER"), loader);
    EXPECT_EQ(Written(port, "PARAM"), param);
    EXPECT_EQ(Written(port, "BOOT"), boot);
    EXPECT_EQ(Written(port, "SYSTEM"), system);
    EXPECT_EQ(Written(port, "RADIO"), modem);
    EXPECT_EQ(Written(port, "CACHE"), cache);
    EXPECT_EQ(Written(port, "EFS"), efs);
    const Lines lines = result.PortLines(port);
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Firmware update start.."), lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Transmission Complete.. "), lines.end());
    EXPECT_EQ(result.lastState.at(port), Verdict::Passed);
  }
  // The modem member goes in the modem layout; the others in the phone layout.
  EXPECT_EQ(Requests(0, "102/3", 1), (Lines{"0", "0", "0", "0", "1", "0", "0"}));
  const uint64_t total = loader.size() + param.size() + boot.size() + system.size() + modem.size() +
                         cache.size() + efs.size();
  EXPECT_EQ(Requests(0, "100/2", 2), (Lines{std::to_string(total) + " 0"}));
}

TEST_F(FullDownload, APackagePartitionTableIsUploadedAndMapsTheMembers) {
  PitTable table = devsim::BuiltinPitTable();
  PitEntry extra = table.entries[2];
  extra.partitionId = 42;
  extra.SetPartitionName("EXTRA");
  extra.SetFileName("extra.img");
  table.entries.push_back(extra);
  const auto pit = EncodePitTable(table);
  const std::string extraData = test::TestBytes(5000, 9);
  DownloadOptions options = Options();  // RePartition stays off: the package turns it on
  Use(options, AP,
      Package("AP.tar",
              {{"mirk3.pit", std::string(pit.begin(), pit.end())}, {"extra.img", extraData}}));
  options.pitPath = dir / "operator-choice.pit";  // not sent: the package's table wins
  test::WriteFile(options.pitPath, "not a table");
  StartFarm(Farm({0}));
  const RunResult result = Run({0}, options);
  EXPECT_EQ(result.succeeded, 1) << ::testing::PrintToString(result.log);
  EXPECT_EQ(farm->Pit(0), pit);
  EXPECT_EQ(Written(0, "EXTRA"), extraData);
  EXPECT_TRUE(result.Contains(0, "DO NOT TURN OFF TARGET!!"));
}

TEST_F(FullDownload, RePartitionWithoutATableFailsOnTheOperatorsFile) {
  DownloadOptions options = Options();
  options.RePartition = 1;
  Use(options, AP, Package("AP.tar", {{"boot.img", "b"}}));
  StartFarm(Farm({0}));
  const RunResult result = Run({0}, options);
  EXPECT_EQ(result.failed, 1);
  EXPECT_EQ(result.failures.at(0), (Lines{"Can't open the specified file. (Line: 1831)|1"}));
  EXPECT_TRUE(Requests(0, "101/0", 0).empty()) << "nothing is uploaded";
}

TEST_F(FullDownload, DeviceTablesOf500And501BytesAndNamesIgnoringCase) {
  for (const size_t size : {500u, 501u}) {
    SCOPED_TRACE(size);
    PitTable table = devsim::BuiltinPitTable();
    table.entries.resize((size - PIT_HEADER_SIZE) / PIT_ENTRY_SIZE);
    auto pit = EncodePitTable(table);
    pit.resize(size, 0);  // a table may carry bytes after its entries
    devsim::FarmConfig config = Farm({static_cast<int>(size)});
    config.pit = pit;
    StartFarm(config);
    DownloadOptions options = Options();
    Use(options, AP, Package("AP" + std::to_string(size) + ".tar", {{"BOOT.IMG", "upper"}}));
    const RunResult result = Run({static_cast<int>(size)}, options);
    EXPECT_EQ(result.succeeded, 1) << ::testing::PrintToString(result.log);
    EXPECT_EQ(Written(static_cast<int>(size), "BOOT"), "upper");
    EXPECT_EQ(Requests(static_cast<int>(size), "101/2", 1),
              size == 500 ? Lines{"0"} : (Lines{"0", "1"}));
  }
}

// Every member is checked against the phone's table before the first is written: a phone is
// refused whole, never left half-flashed with its boot loader already replaced.
TEST_F(FullDownload, AMemberNoPartitionNamesRefusesThePhoneBeforeAnyData) {
  DownloadOptions options = Options();
  Use(options, BL, Package("BL.tar", {{"loader.bin", "l"}, {"unknown.bin", "u"}}));
  Use(options, AP, Package("AP.tar", {{"boot.img", "b"}, {"other.bin", "o"}}));
  StartFarm(Farm({0}));
  const RunResult result = Run({0}, options);
  EXPECT_EQ(result.failed, 1);
  EXPECT_EQ(result.failures.at(0), (Lines{"FAIL! 2 members cannot be written to this phone|7"}));
  EXPECT_TRUE(
      result.Contains(0, "unknown.bin: the device's partition table has no partition for it"));
  EXPECT_TRUE(
      result.Contains(0, "other.bin: the device's partition table has no partition for it"));
  EXPECT_TRUE(Requests(0, "101/1", 0).size() == 1u) << "the table was read";
  EXPECT_TRUE(Requests(0, "102/0", 0).empty()) << "not even the boot loader was written";
}

TEST_F(FullDownload, SequencesFollowTheStorageKindAndTheModemSize) {
  // Sparse members: 70000000 bytes for a storage-kind-2 partition, 104857601 for the modem.
  const std::string system = dir / "system.img", modem = dir / "modem.bin";
  test::WriteFile(system, "s");
  std::filesystem::resize_file(system, 70000000);
  test::WriteFile(modem, "m");
  std::filesystem::resize_file(modem, 104857601);
  pack::TarWriter ap, cp;
  ASSERT_TRUE(ap.Open(dir / "AP-big.tar") && ap.AddFile("system.img", system) && ap.Finish());
  ASSERT_TRUE(cp.Open(dir / "CP-big.tar") && cp.AddFile("modem.bin", modem) && cp.Finish());
  DownloadOptions options = Options();
  options.PacketSize = 1048576;
  options.PhoneEFSClear = 1;
  options.PhoneBootUpdate = 0;
  // Plain tars without meta-data: the protocol-3 phone skips the device-info check.
  Use(options, AP, dir / "AP-big.tar");
  Use(options, CP, dir / "CP-big.tar");
  devsim::FarmConfig config = Farm({0});
  config.protocol = 3;
  config.discard = true;
  StartFarm(config);
  const RunResult result = Run({0}, options);
  EXPECT_EQ(result.succeeded, 1) << ::testing::PrintToString(result.log);
  EXPECT_EQ(Requests(0, "102/2", 1),
            (Lines{"31457280", "31457280", "7208960", "104857600", "131072"}));
  const Lines ends = Requests(0, "102/3", 8);
  ASSERT_EQ(ends.size(), 5u);
  EXPECT_EQ(ends[0], "0 31457280 0 2 20 0 1 0");
  EXPECT_EQ(ends[1], "0 31457280 0 2 20 0 1 0");
  EXPECT_EQ(ends[2], "0 7085440 0 2 20 1 1 0");
  EXPECT_EQ(ends[3], "1 104857600 1 0 0 0 10 0");
  EXPECT_EQ(ends[4], "1 1 1 0 1 0 10 0");
}

// The host's packets must be the size the phone counts in: a refused size leaves both at 131072,
// and a size that does not divide the announced lengths is rounded down to one that does.
TEST_F(FullDownload, PacketsStayInStepWithThePhone) {
  const std::string boot = test::TestBytes(300000, 12);
  const struct {
    int32_t asked;
    bool refused;
    const char* line;
  } cases[] = {
      {1048576, true, "The phone refused packets of 1048576 bytes: packets of 131072 bytes"},
      {200000, false, "Packets of 131072 bytes (200000 asked)"},
  };
  devsim::FarmConfig config = Farm({0, 1});
  config.faults[0].fails.push_back(devsim::FailRule{100, 5, -1, 0});
  StartFarm(config);
  int port = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    DownloadOptions options = Options();
    options.PacketSize = c.asked;
    Use(options, AP, Package("AP.tar", {{"boot.img", boot}}));
    const RunResult result = Run({port}, options);
    EXPECT_EQ(result.succeeded, 1) << ::testing::PrintToString(result.log);
    EXPECT_EQ(Written(port, "BOOT"), boot);
    EXPECT_TRUE(result.Contains(port, c.line));
    ++port;
  }
}

// A modem whose write never ends (the line goes silent while it writes) fails with a report of
// its own: the slot shows FAIL, the run counts it failed.
TEST_F(FullDownload, AModemThatNeverAnswersItsWriteFailsThePhone) {
  DownloadOptions options = Options();
  Use(options, CP, Package("CP.tar", {{"modem.bin", test::TestBytes(1000, 13)}}));
  devsim::FarmConfig config = Farm({0});
  StartFarm(config);
  ASSERT_EQ(Run({0}, options).succeeded, 1);
  const Lines trace = farm->Trace(0);
  const auto end = std::find_if(trace.begin(), trace.end(), [](const std::string& line) {
    return line.rfind("102/3", 0) == 0;
  });
  ASSERT_NE(end, trace.end());
  farm.reset();

  config.faults[0].silentAfter = static_cast<int>(end - trace.begin());
  StartFarm(config);
  EngineContext context;
  context.timing = test::QuickTiming();
  context.timing.firstByteTimeout = 300ms;
  context.portDir = dir / "ports";
  const RunResult result = test::RunStation({0}, options, context);
  EXPECT_EQ(result.failed, 1);
  EXPECT_EQ(result.failures.at(0), (Lines{"Complete(Write) operation failed.|2"}));
  EXPECT_EQ(result.lastState.at(0), Verdict::Failed);
  EXPECT_TRUE(result.Contains(0, "Receive Response from boot-loader"));
}

TEST_F(FullDownload, AFailingPhoneDoesNotStopTheOthers) {
  DownloadOptions options = Options();
  const std::string boot = test::TestBytes(400000, 11);
  Use(options, AP, Package("AP.tar", {{"boot.img", boot}}));
  devsim::FarmConfig config = Farm({0, 1, 2});
  config.faults[1].fails.push_back(devsim::FailRule{102, 3, -4, 0});
  config.faults[2].vanishAfterBytes = 200000;  // unplugged in the middle of the sequence
  StartFarm(config);
  const auto start = std::chrono::steady_clock::now();
  const RunResult result = Run({0, 1, 2}, options);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 60s);
  EXPECT_EQ(result.succeeded, 1);
  EXPECT_EQ(result.failed, 2);
  EXPECT_EQ(Written(0, "BOOT"), boot);
  EXPECT_EQ(result.failures.at(1).front(), "FAIL! (Write)|-4");
  EXPECT_EQ(result.failures.at(2).back(), "Complete(Write) operation failed.|3");
  EXPECT_TRUE(result.Contains(2, "__XmitData_Write") || result.Contains(2, "__XmitData_Read"));
  EXPECT_EQ(result.log.back(), "<OSM> All threads completed. (succeed 1 / failed 2)");
}

TEST_F(FullDownload, DamagedPackagesAndUnusablePartitionsNeverReachThePhone) {
  // A member whose header claims more bytes than the package holds.
  const std::string cut = dir / "cut.tar";
  {
    pack::TarWriter writer;
    ASSERT_TRUE(writer.Open(cut));
    const auto header = pack::MakeTarHeader("boot.img", 100000);
    ASSERT_TRUE(writer.WriteRaw(
        std::string_view(reinterpret_cast<const char*>(header.data()), header.size())));
    ASSERT_TRUE(writer.WriteRaw(std::string(5000, 'x')));
    ASSERT_TRUE(writer.CloseAsIs());
  }
  // A partition whose storage kind gives no sequence size.
  PitTable table = devsim::BuiltinPitTable();
  table.entries[2].storageKind = 3;  // BOOT
  devsim::FarmConfig config = Farm({0, 1});
  config.pit = EncodePitTable(table);
  config.protocol = 3;
  StartFarm(config);

  DownloadOptions damaged = Options();
  Use(damaged, AP, cut);
  RunResult result = Run({0}, damaged);
  EXPECT_EQ(result.failed, 1);
  EXPECT_EQ(result.failures.at(0),
            (Lines{"cut.tar: the member boot.img at offset 0 runs past its end|1"}));
  EXPECT_TRUE(farm->Trace(0).empty()) << "the phone is not even greeted";

  // A package that ends inside a header: the members after the cut would not be sent.
  const std::string whole = dir / "whole.tar";
  test::WriteSignedPackage(whole, {{"boot.img", "b"}, {"system.img", "s"}}, kModel);
  const std::string bytes = test::ReadFile(whole);
  test::WriteFile(dir / "half.tar", bytes.substr(0, 1024 + 200));
  DownloadOptions half = Options();
  Use(half, AP, dir / "half.tar");
  result = Run({0}, half);
  EXPECT_EQ(result.failed, 1);
  EXPECT_EQ(result.failures.at(0),
            (Lines{"half.tar: the package ends inside the tar header at offset 1024|1"}));
  EXPECT_TRUE(farm->Trace(0).empty()) << "the phone is not even greeted";

  DownloadOptions unusable = Options();
  Use(unusable, AP, Package("AP.tar", {{"boot.img", "b"}}));
  result = Run({1}, unusable);
  EXPECT_EQ(result.failed, 1);
  EXPECT_EQ(result.failures.at(1), (Lines{"FAIL! 1 member cannot be written to this phone|7"}));
  EXPECT_TRUE(result.Contains(1, "boot.img: no transfer size for storage kind 3"));
  EXPECT_TRUE(Requests(1, "102/0", 0).empty());
}

TEST_F(FullDownload, APaxPackageOfTheSystemTarLandsLikeAnyOther) {
  if (std::system("tar --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "no tar on this machine";
  // GNU tar's pax form puts an extended header (times only) before every entry, and folders
  // are entries of their own: none of them is a member to send.
  const std::string boot = test::TestBytes(300000, 21), system = test::TestBytes(70001, 22);
  const std::string files = dir / "files";
  std::filesystem::create_directories(files + "/meta-data");
  test::WriteFile(files + "/boot.img", boot);
  test::WriteFile(files + "/system.img", system);
  auto digest = [](const std::string& data) {
    return MemberSha256Hex(MemoryByteSource(data), 0, data.size());
  };
  test::WriteFile(files + "/meta-data/fota.mf",
                  test::SealedList("2\n" + std::string(kModel) + "\n" + digest(boot) +
                                   " boot.img\n" + digest(system) + " system.img\n"));
  const std::string package = dir / "AP_pax.tar";
  const std::string command =
      "tar --format=pax -C '" + files + "' -cf '" + package + "' boot.img meta-data system.img";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;

  DownloadOptions options = Options();
  Use(options, AP, package);
  StartFarm(Farm({0}));
  const RunResult result = Run({0}, options);
  EXPECT_EQ(result.succeeded, 1) << ::testing::PrintToString(result.log);
  EXPECT_EQ(Written(0, "BOOT"), boot);
  EXPECT_EQ(Written(0, "SYSTEM"), system);
  EXPECT_TRUE(result.Contains(0, "Skip pax extended header ./PaxHeaders/boot.img"))
      << ::testing::PrintToString(result.log);
  EXPECT_TRUE(result.Contains(0, "Skip directory meta-data/"));
  EXPECT_EQ(Requests(0, "100/2", 2), (Lines{std::to_string(boot.size() + system.size()) + " 0"}));
}

TEST_F(FullDownload, ADownloadListThatLeavesNothingNeverPasses) {
  StartFarm(Farm({0}));
  const struct {
    const char* what;
    std::string list;
    std::string failure;
  } cases[] = {
      {"an empty list", "",
       "HOME_CSC.tar: its download list leaves nothing to send (the list is "
       "empty)|1"},
      {"a list saved as UTF-16", std::string("b\0o\0o\0t\0.\0i\0m\0g\0\r\0\n\0", 20),
       "HOME_CSC.tar: its download list leaves nothing to send (the list is cut at the zero byte "
       "at 1: saved as UTF-16?)|1"},
  };
  for (const auto& c : cases) {
    DownloadOptions options = Options();
    Use(options, AP, Package("AP.tar", {{"boot.img", "b"}}));
    Use(options, CSC,
        Package("HOME_CSC.tar", {{"cache.img", "c"}, {"meta-data/download-list.txt", c.list}}));
    const RunResult result = Run({0}, options);
    EXPECT_EQ(result.failed, 1) << c.what;
    EXPECT_EQ(result.failures.at(0), Lines{c.failure}) << c.what;
    EXPECT_TRUE(farm->Trace(0).empty()) << c.what << ": the phone is not even greeted";
  }
}

// Each member is one byte longer than its partition's sequence, so it goes as one full sequence
// and one of a single byte; the phone's end-of-sequence words tell their lengths. A storage
// kind without a usable sequence size refuses the phone before any data.
TEST_F(FullDownload, EveryStorageKindGivesItsSequenceSize) {
  const struct {
    uint32_t storageKind, blockParam, attributes;
    uint32_t sequence;  // 0: no usable size
  } cases[] = {
      {0, 2048, 1, 108134400},  // (2048 + 4 * 16) * 1024 * (800 / 16)
      {0, 34176, 0, 69992448},  // 34176 * 1024 * (800 / 267)
      {0, 51328, 2, 52559872},  // 51328 * 1024 * (800 / 401)
      {0, 127, 1, 0},           // below 128
      {0, 102528, 0, 0},        // 800 / 801 is 0
      {1, 2048, 5, 31457280},  {2, 2048, 5, 31457280}, {3, 2048, 5, 0},
      {4, 2048, 5, 0},         {5, 2048, 5, 0},        {6, 2048, 5, 4194304},
      {7, 2048, 5, 1048576},   {8, 2048, 5, 31457280}, {9, 2048, 5, 0},
  };
  const auto file = [](size_t i) { return "case" + std::to_string(i) + ".img"; };
  PitTable table;
  std::vector<std::pair<std::string, uint64_t>> sized;
  std::vector<TarEntry> unsized;
  for (size_t i = 0; i < std::size(cases); ++i) {
    PitEntry entry;
    entry.storageKind = cases[i].storageKind;
    entry.blockParam = cases[i].blockParam;
    entry.attributes = cases[i].attributes;
    entry.partitionId = static_cast<int32_t>(100 + i);
    entry.SetPartitionName("P" + std::to_string(i));
    entry.SetFileName(file(i));
    table.entries.push_back(entry);
    if (cases[i].sequence != 0) {
      sized.emplace_back(file(i), uint64_t{cases[i].sequence} + 1);
    } else {
      unsized.push_back({file(i), "u"});
    }
  }
  WriteSparseTar(dir / "sized.tar", sized);
  test::WriteTar(dir / "unsized.tar", unsized);
  devsim::FarmConfig config = Farm({0, 1});
  config.pit = EncodePitTable(table);
  config.protocol = 3;
  config.discard = true;
  StartFarm(config);

  DownloadOptions options = Options();
  options.PacketSize = 1048576;
  Use(options, AP, dir / "sized.tar");
  const RunResult sizedRun = Run({0}, options);
  EXPECT_EQ(sizedRun.succeeded, 1) << ::testing::PrintToString(sizedRun.log);
  std::map<int32_t, std::vector<uint32_t>> lengths;  // words 1 (length) by word 4 (partition id)
  for (const std::string& words : Requests(0, "102/3", 5)) {
    std::istringstream in(words);
    int64_t word[5] = {};
    for (int64_t& w : word) in >> w;
    lengths[static_cast<int32_t>(word[4])].push_back(static_cast<uint32_t>(word[1]));
  }

  Use(options, AP, dir / "unsized.tar");
  const RunResult unsizedRun = Run({1}, options);
  EXPECT_EQ(unsizedRun.failures.at(1), (Lines{"FAIL! " + std::to_string(unsized.size()) +
                                              " members cannot be written to this phone|7"}));
  EXPECT_TRUE(Requests(1, "102/0", 0).empty());

  for (size_t i = 0; i < std::size(cases); ++i) {
    const auto& c = cases[i];
    SCOPED_TRACE(::testing::Message() << "storage kind " << c.storageKind << ", blockParam "
                                      << c.blockParam << ", attributes " << c.attributes);
    if (c.sequence != 0) {
      EXPECT_EQ(lengths[static_cast<int32_t>(100 + i)], (std::vector<uint32_t>{c.sequence, 1}));
    } else {
      EXPECT_TRUE(unsizedRun.Contains(
          1, file(i) + ": no transfer size for storage kind " + std::to_string(c.storageKind)));
    }
  }
}

// The total travels as the remainder and the quotient of a division by 4294967295, not 2^32.
// Sparse members announce totals of gigabytes; the phone refuses the first sequence, so none of
// it is sent.
TEST_F(FullDownload, TheTotalIsSplitBy4294967295) {
  const struct {
    uint64_t total;
    uint32_t low, high;
  } cases[] = {
      {0, 0, 0},
      {4294967294, 4294967294, 0},
      {4294967295, 0, 1},
      {4294967296, 1, 1},
      {5000000000, 705032705, 1},
      {2 * uint64_t{4294967295}, 0, 2},
      {2 * uint64_t{4294967295} + 1, 1, 2},
  };
  std::vector<int> ports;
  for (int port = 0; port < static_cast<int>(std::size(cases)); ++port) ports.push_back(port);
  devsim::FarmConfig config = Farm(ports);
  config.protocol = 3;
  for (int port : ports) config.faults[port].fails.push_back(devsim::FailRule{102, 0});
  StartFarm(config);
  for (int port : ports) {
    const auto& c = cases[port];
    SCOPED_TRACE(c.total);
    const std::string package = dir / ("AP" + std::to_string(port) + ".tar");
    WriteSparseTar(package, {{"system.img", c.total}});
    DownloadOptions options = Options();
    Use(options, AP, package);
    Run({port}, options);
    EXPECT_EQ(Requests(port, "100/2", 2), Lines{TraceWords(c.low, c.high)});
  }
}

}  // namespace
}  // namespace mirk3
