#include "cli/cli_package_report.h"

#include <CLI/CLI.hpp>
#include <filesystem>
#include <optional>

#include "station/command_options.h"
#include "station/package_pick.h"
#include "base/file.h"
#include "base/text.h"
#include "cmdline/command_line.h"
#include "engine/download_engine.h"
#include "packages/md5_trailer.h"
#include "packages/meta_data_key.h"
#include "packages/one_click_program.h"

namespace mirk3 {
namespace {

constexpr char INSPECT_HELP[] =
    "Shows what a download would do with the packages, without any phone: per slot the members "
    "that would be sent with their offsets and sizes, the partition table found in the "
    "packages, the download list and what it drops, the total announced to the phone, the "
    "meta-data verdict, and the MD5 trailer verdict of every .md5 package. Plain FILEs take the "
    "free slots in the order BL, AP, CP, CSC, UMS. --one-click shows the packages a One Click "
    "program carries; a One Click program's own inspect always shows its own packages, as its "
    "runs send only those.\nExit status: 0 the analysis passes and the meta-data and MD5 "
    "trailers verify, 1 otherwise, 2 usage error.";

constexpr int EXIT_READY = 0;
constexpr int EXIT_NOT_READY = 1;

// Keeps the engine's log lines, shown as they came; the analysis runs on this thread, so no
// lock is needed. What the analysis found is read from its result, never from these lines.
class LogLines : public EngineObserver {
 public:
  void Tell(const PortEvent& event) override {
    if (const auto* note = std::get_if<Note>(&event.event)) lines_.push_back(note->text);
  }
  const std::vector<std::string>& Lines() const { return lines_; }

 private:
  std::vector<std::string> lines_;
};

// Plain files take the slots no option named, in slot order.
bool PlaceFiles(const std::vector<std::string>& files, DownloadOptions& options,
                std::string* error) {
  int slot = 0;
  for (const std::string& file : files) {
    while (slot < SLOT_COUNT && options.slotEnabled[slot]) ++slot;
    if (slot == SLOT_COUNT) {
      *error = "more packages than free slots (BL, AP, CP, CSC, UMS)";
      return false;
    }
    options.slotEnabled[slot] = 1;
    options.slotPath[slot] = file;
  }
  return true;
}

bool AnyPackage(const DownloadOptions& options) {
  return options.slotEnabled != std::array<int32_t, SLOT_COUNT>{};
}

// True when the program file ends in a One Click trailer: it then carries its own packages.
bool CarriesPackages(const std::string& program) {
  return ReadOneClickTrailer(program).has_value();
}

// What the parser cannot see: the plain files must fit the free slots, and a One Click program
// shows its own packages and takes no others. "" when the request holds.
std::string RequestProblem(const std::vector<std::string>& files, InspectRequest* request) {
  std::string problem;
  if (!PlaceFiles(files, request->options, &problem)) return problem;
  if (!request->oneClickProgram.empty() && AnyPackage(request->options)) {
    return "--one-click shows the program's own packages and takes no others";
  }
  return "";
}

std::string Bytes(uint64_t n) {
  const double mib = static_cast<double>(n) / (1 << 20);
  if (mib >= 1024)
    return Format("%llu bytes (%.2f GiB)", static_cast<unsigned long long>(n), mib / 1024);
  if (mib >= 1) return Format("%llu bytes (%.2f MiB)", static_cast<unsigned long long>(n), mib);
  return Format("%llu bytes", static_cast<unsigned long long>(n));
}

std::string Plural(size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

const char* SlotTypeName(int16_t type) {
  switch (type) {
    case ONECLICK_TAR:
      return "tar";
    case ONECLICK_TAR_MD5:
      return "tar with MD5 trailer";
    case ONECLICK_TAR_DEFLATED:
      return "tar of compressed members";
    default:
      return "unknown type";
  }
}

// Where a slot's package comes from, as the operator chose it or the program carries it.
std::string SlotSource(const DownloadPlan& found, int slot) {
  if (!found.oneClick) return found.slots[slot].package;
  const OneClickSlot& record = found.slots[slot].carried;
  return Format("%u bytes at offset %u of the program, %s (type %d)", record.length, record.offset,
                SlotTypeName(record.type), record.type);
}

void PrintPackages(const DownloadPlan& found, bool filesGiven, std::ostream& out) {
  if (found.oneClick) {
    std::error_code error;
    const auto shown = std::filesystem::read_symlink(found.program, error);  // /proc/self/exe
    out << "One Click program " << (error ? found.program : shown.string()) << "\n";
    if (filesGiven) out << "It carries its own packages: the files given are not used.\n";
  }
  out << "Packages\n";
  for (int slot = 0; slot < SLOT_COUNT; ++slot) {
    if (found.slots[slot].chosen) {
      out << Format("  %-4s %s\n", SLOT_NAMES[slot], SlotSource(found, slot).c_str());
    }
  }
}

void PrintLog(const LogLines& log, std::ostream& out) {
  out << "Log\n";
  for (std::string text : log.Lines()) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    out << "  " << text << "\n";
  }
}

void PrintFailure(const AnalysisFailure& failure, std::ostream& out) {
  out << "File analysis FAILED: " << failure.text << " (code " << failure.code << ")\n"
      << "A run with these packages stops at its first step; no phone is written.\n";
}

void PrintSlot(const DownloadPlan& found, int slot, std::ostream& out) {
  const AnalysedSlot& analysed = found.slots[slot];
  const EntryList& list = analysed.members;
  const std::string source =
      found.oneClick ? "" : std::string(PathFileName(analysed.package)) + ": ";
  out << Format("%-4s %s", SLOT_NAMES[slot], source.c_str())
      << (list.empty() ? "nothing to send" : Plural(list.size(), "member", "members") + " to send")
      << "\n";
  if (list.empty()) return;
  const bool inflated = found.oneClick && analysed.carried.type == ONECLICK_TAR_DEFLATED;
  out << Format("  %14s %14s", "offset", "size") << (inflated ? Format(" %14s", "inflated") : "")
      << "  member\n";
  for (const auto& entry : list) {
    out << Format("  %14llu %14llu", static_cast<unsigned long long>(entry->dataOffset),
                  static_cast<unsigned long long>(entry->size))
        << (inflated ? Format(" %14llu", static_cast<unsigned long long>(entry->inflatedSize)) : "")
        << "  " << entry->fileName << "\n";
  }
}

void PrintPartitionTable(const DownloadPlan& found, std::ostream& out) {
  const PackagePit& pit = found.packagePit;
  if (!pit.present) {
    out << "Partition table: none in the packages; re-partition "
        << (found.rePartition ? "on" : "off") << "\n";
    return;
  }
  out << "Partition table: " << PathFileName(pit.path) << ", " << Bytes(pit.size) << " at offset "
      << pit.offset << "; re-partition on\n";
}

bool AnyMemberNamed(const DownloadPlan& found, const std::string& name) {
  for (const AnalysedSlot& slot : found.slots) {
    for (const auto& entry : slot.members) {
      if (name == entry->fileName) return true;
    }
  }
  return false;
}

void PrintDownloadList(const DownloadPlan& found, std::ostream& out) {
  if (!found.downloadList) {
    out << "Download list: none; every member above is sent\n";
    return;
  }
  const std::vector<std::string>& names = found.downloadList->names;
  out << "Download list: " << Plural(names.size(), "name", "names")
      << "; only the members it names are sent, from every slot\n";
  for (const std::string& name : names) {
    out << "  " << name << (AnyMemberNamed(found, name) ? "" : "  (no such member)") << "\n";
  }
  std::vector<std::string> dropped;
  for (const AnalysedSlot& slot : found.slots) {
    dropped.insert(dropped.end(), slot.dropped.begin(), slot.dropped.end());
  }
  out << "  dropped: " << (dropped.empty() ? "nothing" : "");
  for (size_t i = 0; i < dropped.size(); ++i) out << (i ? ", " : "") << dropped[i];
  out << "\n";
}

void PrintMetaData(const DownloadPlan& found, std::ostream& out) {
  const std::string model = found.packageModel.empty() ? "none" : found.packageModel;
  if (found.metaDataValid) {
    out << "Meta-data: verified, model " << model << "\n";
    return;
  }
  out << "Meta-data: NOT verified (model: " << model << ")\n"
      << "  phones whose boot loader checks it (protocol 4 or later) are refused with "
         "\"FAIL! SHA256 is invalid\"\n";
}

void PrintResult(const DownloadPlan& found, std::ostream& out) {
  out << "File analysis passed\n\n";
  for (int slot = 0; slot < SLOT_COUNT; ++slot) {
    if (found.slots[slot].chosen) PrintSlot(found, slot, out);
  }
  out << "\n";
  PrintPartitionTable(found, out);
  PrintDownloadList(found, out);
  out << "Total announced to the phone: " << Bytes(found.packageTotal)
      << (found.downloadList ? ", members the list drops included" : "") << "\n";
  PrintMetaData(found, out);
}

// The trailer verdict of every chosen MD5 package, as a pick of it would find it; true when all
// verify. A One Click program's packages come from the program, not from these paths.
bool PrintMd5Trailers(const DownloadPlan& found, std::ostream& out) {
  bool allVerified = true;
  for (int slot = 0; slot < SLOT_COUNT && !found.oneClick; ++slot) {
    const std::string& path = found.slots[slot].package;
    if (!found.slots[slot].chosen || !IsMd5Package(path)) continue;
    std::string why;
    const bool verified = VerifyMd5Trailer(path, [&why](std::string_view line) { why = line; });
    out << "MD5 trailer: " << PathFileName(path);
    if (verified) {
      out << " verified\n";
      continue;
    }
    allVerified = false;
    out << " INVALID" << (why.empty() ? "" : " (" + why + ")") << "\n"
        << "  the station refuses it when it is picked: \"md5 error! Binary is invalid\"\n";
  }
  return allVerified;
}

}  // namespace

std::optional<int> ParseInspectArguments(const std::vector<std::string>& args,
                                         InspectRequest* request, std::ostream& out,
                                         std::ostream& err) {
  std::vector<std::string> files;
  const auto app = NewCommandLine("mirk3-cli inspect", INSPECT_HELP);
  app->add_option("FILE", files, "packages for the free slots, in slot order");
  AddSlotOptions(*app, request->options);
  app->add_option("--one-click", request->oneClickProgram,
                  "show the packages this One Click program carries")
      ->type_name("PROGRAM");
  AddMetaKeyOption(*app, request->metaKeyFile);
  if (const auto status = ParseCommandLine(*app, args, out, err)) return status;
  if (const std::string problem = RequestProblem(files, request); !problem.empty()) {
    return ReportUsageMistake(*app, err, problem);
  }
  // As in a worker, a program that carries packages analyses those and no others.
  if (request->oneClickProgram.empty() && !AnyPackage(request->options) &&
      !CarriesPackages("/proc/self/exe")) {
    return ReportUsageMistake(*app, err, "no package given");
  }
  return std::nullopt;
}

int RunInspectCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  InspectRequest request;
  if (const auto status = ParseInspectArguments(args, &request, out, err)) return *status;
  const bool filesGiven = AnyPackage(request.options);
  std::string error;

  // Only a regular file is read as a program: a pipe would hold the command up for ever.
  if (const std::string& program = request.oneClickProgram; !program.empty()) {
    if (const Result<OpenedFile> file = OpenRegularFile(program); !file) {
      err << "mirk3-cli inspect: " << DescribeFileProblem(program, file.error().text) << "\n";
      return EXIT_NOT_READY;
    }
  }
  EngineContext context;
  if (!request.oneClickProgram.empty()) context.ownExecutablePath = request.oneClickProgram;
  if (!request.metaKeyFile.empty() &&
      !LoadMetaDataKeyFile(request.metaKeyFile, context.metaDataKey, error)) {
    err << "mirk3-cli inspect: " << error << "\n";
    return EXIT_NOT_READY;
  }
  LogLines log;
  CDownloadEngine engine(&log, 0, context);
  if (!request.oneClickProgram.empty() && !engine.OneClickMode()) {
    err << "mirk3-cli inspect: " << request.oneClickProgram
        << " is not a One Click program (it carries no packages)\n";
    return EXIT_NOT_READY;
  }
  engine.CopyOptions(request.options);
  const DownloadPlan found = engine.AnalyseFiles();

  PrintPackages(found, filesGiven, out);
  PrintLog(log, out);
  if (found.failure) {
    PrintFailure(*found.failure, out);
    return EXIT_NOT_READY;
  }
  PrintResult(found, out);
  const bool trailersVerified = PrintMd5Trailers(found, out);
  return found.metaDataValid && trailersVerified ? EXIT_READY : EXIT_NOT_READY;
}

}  // namespace mirk3
