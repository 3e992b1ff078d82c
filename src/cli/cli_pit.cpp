#include "cli/cli_pit.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdlib>

#include "station/command_options.h"
#include "station/station.h"
#include "base/file.h"
#include "base/text.h"
#include "cmdline/command_line.h"
#include "engine/download_engine.h"
#include "engine/pit_file.h"
#include "wire/pit_record.h"

namespace mirk3 {

namespace {

// Prints the engine's log lines and refusals as the station logs them.
class PrintingSink : public EngineObserver {
 public:
  explicit PrintingSink(std::ostream& out) : out_(out) {}
  void Tell(const PortEvent& event) override {
    const std::optional<MessageReport> shown = AsMessage(event);
    if (shown && (shown->message == WM_DL_LOG || shown->message == WM_DL_FAIL)) {
      out_ << FormatLogLine(0, event.port, shown->report.text) << '\n';
    }
  }

 private:
  std::ostream& out_;
};

// Either a FILE to show, or one port to read and an --out to save its table to.
std::string ChoiceProblem(const PitRequest& p) {
  const bool readPhone = !p.ports.empty() || !p.out.empty();
  if (readPhone && (p.ports.size() != 1 || p.out.empty() || !p.file.empty())) {
    return "reading a phone's table needs one --port N and --out FILE, and no FILE";
  }
  return readPhone || !p.file.empty() ? "" : "no table file given";
}

int Refuse(std::ostream& err, const std::string& why) {
  err << "mirk3-cli pit: " << why << "\n";
  return 1;
}

// Only a regular file that holds a table is shown: a directory, a FIFO or a device is refused
// before a byte is read, and a file that is not a table is never read whole.
int ShowFile(const std::string& path, std::ostream& out, std::ostream& err) {
  const Result<OpenedFile> file = OpenRegularFile(path);
  if (!file) return Refuse(err, DescribeFileProblem(path, file.error().text));
  const PitFileRead read = ReadPitTableAt(file->fd.Get(), 0, file->size);
  if (read.outcome != PitFileRead::Outcome::Table) {
    return Refuse(err, DescribeFileProblem(path, read.problem));
  }
  out << path << ": " << read.bytes.size() << " bytes\n" << DescribePitTable(read.bytes);
  return 0;
}

// Writes the table beside `path` and renames it into place when whole, so that a half-written
// table never stands under the final name. "" when saved, else why not.
std::string SaveTable(const std::string& path, const std::vector<uint8_t>& table) {
  std::string partial = path + ".partial-XXXXXX";
  UniqueFd fd(::mkostemp(partial.data(), O_CLOEXEC));
  if (!fd) return FileErrorText(errno);
  if (WriteFully(fd.Get(), table.data(), table.size()) && ::fchmod(fd.Get(), 0644) == 0 &&
      fd.Close() && ::rename(partial.c_str(), path.c_str()) == 0) {
    return "";
  }
  const int error = errno;
  fd.Reset();
  ::unlink(partial.c_str());
  return FileErrorText(error);
}

int ReadPhone(PitRequest& p, std::ostream& out, std::ostream& err) {
  // Refused before the phone is greeted: a FIFO would block, a device would swallow the table.
  const std::string outProblem = OutputPathProblem(p.out);
  if (!outProblem.empty()) return Refuse(err, DescribeFileProblem(p.out, outProblem));
  PrintingSink sink(out);
  p.context.ownExecutablePath.clear();  // a table read never runs from carried packages
  CDownloadEngine engine(&sink, p.ports[0], p.context);
  DownloadOptions options;
  options.deviceInfo = 1;  // no download is announced
  engine.CopyOptions(options);
  std::vector<uint8_t> table;
  const bool read =
      engine.SetupConnection() && engine.InitializationStep() && engine.ReadDevicePit(&table);
  engine.EndSessionWithoutReboot();
  if (!read) return Refuse(err, "the table of " + PortName(p.ports[0]) + " could not be read");
  const std::string saveProblem = SaveTable(p.out, table);
  if (!saveProblem.empty()) return Refuse(err, DescribeFileProblem(p.out, saveProblem));
  out << "saved " << table.size() << " bytes to " << p.out << "\n" << DescribePitTable(table);
  return 0;
}

}  // namespace

std::string DescribePitTable(const std::vector<uint8_t>& bytes) {
  const PitTable table = ParsePitTable(bytes.data(), bytes.size());
  std::string text;
  if (bytes.size() < PIT_HEADER_SIZE) return "not a partition table: shorter than its header\n";
  text += Format("%d entries\n", table.header.EntryCount());
  if (table.header.EntryCount() > static_cast<int32_t>(table.entries.size())) {
    text += Format("damaged: only %zu entries fit in the file\n", table.entries.size());
  }
  text += Format("%3s %6s %4s %7s %5s %6s  %-20s %-24s %s\n", "#", "id", "kind", "storage", "attr",
                 "block", "partition", "file", "aux");
  int index = 0;
  for (const PitEntry& e : table.entries) {
    text +=
        Format("%3d %6d %4u %7u %5u %6u  %-20s %-24s %s\n", index++, e.partitionId, e.entryKind,
               e.storageKind, e.attributes, e.blockParam, std::string(e.PartitionName()).c_str(),
               std::string(e.FileName()).c_str(), std::string(e.AuxName()).c_str());
  }
  return text;
}

std::optional<int> ParsePitArguments(const std::vector<std::string>& args, PitRequest* request,
                                     std::ostream& out, std::ostream& err) {
  PitRequest& p = *request;
  const auto app = NewCommandLine(
      "mirk3-cli pit",
      "Shows a partition table FILE, or reads the table of the phone on --port (connect, "
      "initialize, read, close the session without a reboot) and saves it to --out.\nExit "
      "status: 0 done, 1 failed, 2 usage error.");
  app->add_option("FILE", p.file, "the partition table file to show");
  app->add_option("--out", p.out, "where the phone's table is saved")->type_name("FILE");
  AddLineOptions(*app, p.ports, p.context);
  if (const auto status = ParseCommandLine(*app, args, out, err)) return status;
  if (const std::string problem = ChoiceProblem(p); !problem.empty()) {
    return ReportUsageMistake(*app, err, problem);
  }
  return std::nullopt;
}

int RunPitCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  PitRequest p;
  if (const auto status = ParsePitArguments(args, &p, out, err)) return *status;
  return p.file.empty() ? ReadPhone(p, out, err) : ShowFile(p.file, out, err);
}

}  // namespace mirk3
