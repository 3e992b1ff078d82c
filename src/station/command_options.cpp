#include "station/command_options.h"

#include <CLI/CLI.hpp>
#include <cstdint>

#include "cmdline/command_line.h"
#include "cmdline/port_list.h"

namespace mirk3 {
namespace {

struct RunFlag {
  const char* name;
  int32_t DownloadOptions::*field;
  int32_t value;
  const char* description;
};

// The window's check boxes, each a flag that sets its field of the run's options.
constexpr RunFlag RUN_FLAGS[] = {
    {"--repartition", &DownloadOptions::RePartition, 1,
     "DESTRUCTIVE: lay the phone's partitions out anew from the partition table (--pit or a "
     "package's) before the download (Re-Partition)"},
    {"--no-auto-reboot", &DownloadOptions::AutoReboot, 0,
     "leave the phone in download mode after the download (Auto Reboot off)"},
    {"--device-info", &DownloadOptions::deviceInfo, 1,
     "only connect, read the device information and compare its model with the packages'; "
     "nothing is written (Device Info)"},
    {"--flash-lock", &DownloadOptions::FlashLock, 1,
     "send the lock information before the download (Flash Lock)"},
    {"--nand-erase", &DownloadOptions::NandErase, 1,
     "DESTRUCTIVE: erase the whole phone before the download (Nand Erase All)"},
    {"--t-flash", &DownloadOptions::TFlash, 1, "send the T flash request before the download"},
    {"--efs-clear", &DownloadOptions::PhoneEFSClear, 1,
     "DESTRUCTIVE: have the boot loader clear the phone's EFS (its own settings and identity "
     "data) with every partition written (Phone EFS Clear)"},
    {"--boot-update", &DownloadOptions::PhoneBootUpdate, 1,
     "have the boot loader update itself with every partition written (Phone Bootloader "
     "Update)"},
    {"--rtn", &DownloadOptions::rtnForSprint, 1,
     "send the RTN request before closing (RTN for Sprint)"},
};

}  // namespace

void AddSlotOptions(CLI::App& app, DownloadOptions& options) {
  for (int slot = 0; slot < SLOT_COUNT; ++slot) {
    std::string name = SLOT_NAMES[slot];
    for (char& c : name) c = static_cast<char>(c - 'A' + 'a');
    const auto choose = [&options, slot](const std::string& path) {
      options.slotEnabled[slot] = 1;
      options.slotPath[slot] = path;
    };
    app.add_option_function<std::string>(
           "--" + name, choose,
           std::string("the package of the ") + SLOT_NAMES[slot] + " slot (.tar or .tar.md5)")
        ->type_name("FILE")
        ->default_str(options.slotEnabled[slot] ? options.slotPath[slot] : "");
  }
}

void AddPackageChoiceOptions(CLI::App& app, DownloadOptions& picked,
                             std::vector<std::string>& dropped) {
  AddSlotOptions(app, picked);
  app.add_option("--pit", picked.pitPath,
                 "the partition table, picked as on the Pit page (sets Re-Partition)")
      ->type_name("FILE");
  app.add_option("FILE", dropped,
                 "packages dropped as on the window: BL*, AP* or ALL*, CP*, CSC* or HOME_CSC* "
                 "(.tar or .md5)");
}

void AddRunOptions(CLI::App& app, DownloadOptions& options) {
  app.add_option("--pit", options.pitPath, "the partition table that --repartition writes")
      ->type_name("FILE")
      ->capture_default_str();
  for (const RunFlag& flag : RUN_FLAGS) {
    app.add_flag_callback(
        flag.name, [&options, flag] { options.*flag.field = flag.value; }, flag.description);
  }
  app.add_option("--packet-size", options.PacketSize,
                 "data packet size asked of the phone (below 131072: 1048576)")
      ->transform(DecimalRange(0, INT32_MAX))
      ->type_name("BYTES")
      ->capture_default_str();
  const auto resetTime = [&options](int32_t seconds) {
    options.FResetTime = 1;
    options.FactoryResetTime = seconds;
  };
  CLI::Option* pause =
      app.add_option_function<int32_t>("--reset-time", resetTime,
                                       "pause after closing before the phone resets (F. Reset "
                                       "Time)")
          ->transform(DecimalRange(0, 3600))
          ->type_name("SECONDS")
          ->default_str(options.FResetTime ? std::to_string(options.FactoryResetTime) : "");
  app.add_flag_callback(
         "--no-reset-time", [&options] { options.FResetTime = 0; },
         "no pause after closing (F. Reset Time off)")
      ->excludes(pause);
}

void AddMetaKeyOption(CLI::App& app, std::string& keyFile) {
  app.add_option("--meta-key", keyFile,
                 "public key that checks the packages' meta-data (PEM or base64 DER)")
      ->type_name("FILE")
      ->default_str("the built-in key");
}

void AddLineOptions(CLI::App& app, std::vector<int>& ports, EngineContext& context) {
  AddPortListOption(app, "--port", ports, MAX_STATION_PORT,
                    "the phone's port ttyACM<n>, or a list such as 0-3,7; may be repeated");
  AddPortDirOptions(app, context);
}

void AddPortDirOptions(CLI::App& app, EngineContext& context) {
  app.add_option("--port-dir", context.portDir, "where the ports' device nodes are")
      ->type_name("DIR")
      ->default_str(context.portDir.empty() ? "$MIRK3_PORT_DIR, else /dev" : context.portDir);
  app.add_option("--open-attempts", context.timing.openAttempts,
                 "tries to open a port, one second apart")
      ->transform(DecimalRange(1, 1000000))
      ->type_name("N")
      ->capture_default_str();
  const auto timeout = [&context](int64_t ms) { context.timing.firstByteTimeout = Millis(ms); };
  app.add_option_function<int64_t>("--first-byte-timeout-ms", timeout,
                                   "longest wait for a phone's first byte of an answer")
      ->transform(DecimalRange(1, INT32_MAX))
      ->type_name("MS")
      ->default_str(std::to_string(context.timing.firstByteTimeout.count()));
}

}  // namespace mirk3
