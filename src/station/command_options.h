// The options of the station's commands, each declared once and shared by every command that
// takes it: the packages of the five slots (flash, inspect), the choices the window's check
// boxes and numbers make for a run (flash), the meta-data key (flash, inspect, verify) and the
// line to the phones: which ports, where they appear, how long to wait for them (flash, pit).
// The help of each option shows the default that the target holds when it is added.
#pragma once

#include <string>
#include <vector>

#include "engine/download_options.h"
#include "engine/engine_context.h"

namespace CLI {
class App;
}  // namespace CLI

namespace mirk3 {

// The highest port number the station's commands take.
inline constexpr int MAX_STATION_PORT = 255;

// --bl --ap --cp --csc --ums FILE: each chooses its slot's package in `options`.
void AddSlotOptions(CLI::App& app, DownloadOptions& options);

// The packages of a station's command line, chosen as the window's operator chooses them:
// --bl ... --ums FILE are picks, --pit FILE the Pit page's pick (which sets Re-Partition) and the
// FILEs a drop (named by the drop's rules).
void AddPackageChoiceOptions(CLI::App& app, DownloadOptions& picked,
                             std::vector<std::string>& dropped);

// --pit FILE, --packet-size BYTES, --reset-time SECONDS and one flag per check box of the
// window (--repartition, --no-auto-reboot, --no-reset-time, --device-info, --flash-lock,
// --nand-erase, --t-flash, --efs-clear, --boot-update, --rtn), set in `options`.
void AddRunOptions(CLI::App& app, DownloadOptions& options);

// --meta-key FILE: the public key that checks the packages' meta-data instead of the built-in
// one.
void AddMetaKeyOption(CLI::App& app, std::string& keyFile);

// --port LIST (may be repeated; ports are appended to `ports` in the order written), and the
// options of AddPortDirOptions.
void AddLineOptions(CLI::App& app, std::vector<int>& ports, EngineContext& context);

// --port-dir DIR, --open-attempts N and --first-byte-timeout-ms MS, set in `context`.
void AddPortDirOptions(CLI::App& app, EngineContext& context);

}  // namespace mirk3
