#include "app/cli_pit.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>

#include "app/station.h"
#include "base/file.h"
#include "base/text.h"
#include "engine/download_engine.h"
#include "engine/pit_file.h"
#include "wire/pit_record.h"

namespace mirk3 {

const char PIT_USAGE[] =
    "usage: mirk3-cli pit FILE\n"
    "       mirk3-cli pit --port N --out FILE [--port-dir DIR] [--open-attempts N]\n"
    "                     [--first-byte-timeout-ms MS]\n";

namespace {

// Prints each report of the engine as the station logs it.
class PrintingSink : public ReportSink {
 public:
  explicit PrintingSink(std::ostream& out) : out_(out) {}
  void Send(int message, const EngineReport& report) override {
    if (message == WM_DL_LOG || message == WM_DL_FAIL) {
      out_ << FormatLogLine(0, report.port, report.text) << '\n';
    }
  }

 private:
  std::ostream& out_;
};

struct PitArgs {
  std::string file, out;
  int port = -1;
  EngineContext context;
};

bool Number(const std::string& text, long long min, long long max, long long* value) {
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, *value);
  return ec == std::errc() && ptr == end && *value >= min && *value <= max;
}

bool Parse(const std::vector<std::string>& args, PitArgs* p, std::string* error) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    long long n = 0;
    const bool hasValue = i + 1 < args.size();
    if (a.rfind("--", 0) != 0) {
      if (!p->file.empty()) return (*error = "more than one file: " + a, false);
      p->file = a;
    } else if (!hasValue) {
      return (*error = a + " needs a value", false);
    } else if (a == "--port" && Number(args[i + 1], 0, 255, &n)) {
      p->port = static_cast<int>(n), ++i;
    } else if (a == "--out") {
      p->out = args[++i];
    } else if (a == "--port-dir") {
      p->context.portDir = args[++i];
    } else if (a == "--open-attempts" && Number(args[i + 1], 1, 1000000, &n)) {
      p->context.timing.openAttempts = static_cast<int>(n), ++i;
    } else if (a == "--first-byte-timeout-ms" && Number(args[i + 1], 1, INT32_MAX, &n)) {
      p->context.timing.firstByteTimeout = Millis(n), ++i;
    } else {
      return (*error = "bad option or value: " + a + " " + args[i + 1], false);
    }
  }
  const bool readPhone = p->port >= 0 || !p->out.empty();
  if (readPhone && (p->port < 0 || p->out.empty() || !p->file.empty())) {
    return (*error = "reading a phone's table needs --port N and --out FILE, and no FILE", false);
  }
  if (!readPhone && p->file.empty()) return (*error = "no table file given", false);
  return true;
}

int Refuse(std::ostream& err, const std::string& why) {
  err << "mirk3-cli pit: " << why << "\n";
  return 1;
}

// Only a regular file that holds a table is shown: a directory, a FIFO or a device is refused
// before a byte is read, and a file that is not a table is never read whole.
int ShowFile(const std::string& path, std::ostream& out, std::ostream& err) {
  const OpenedFile file = OpenRegularFile(path);
  if (!file) return Refuse(err, DescribeFileProblem(path, file.error));
  const PitFileRead read = ReadPitTableAt(file.fd.Get(), 0, file.size);
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
      ::close(fd.Release()) == 0 && ::rename(partial.c_str(), path.c_str()) == 0) {
    return "";
  }
  const int error = errno;
  fd.Reset();
  ::unlink(partial.c_str());
  return FileErrorText(error);
}

int ReadPhone(PitArgs& p, std::ostream& out, std::ostream& err) {
  // Refused before the phone is greeted: a FIFO would block, a device would swallow the table.
  const std::string outProblem = OutputPathProblem(p.out);
  if (!outProblem.empty()) return Refuse(err, DescribeFileProblem(p.out, outProblem));
  PrintingSink sink(out);
  p.context.ownExecutablePath.clear();  // a table read never runs from carried packages
  CDownloadEngine engine(&sink, p.port, p.context);
  DownloadOptions options;
  options.deviceInfo = 1;  // no download is announced
  engine.CopyOptions(options);
  std::vector<uint8_t> table;
  const bool read =
      engine.SetupConnection() && engine.InitializationStep() && engine.ReadDevicePit(&table);
  engine.EndSessionWithoutReboot();
  if (!read) return Refuse(err, "the table of " + PortName(p.port) + " could not be read");
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

int RunPitCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  PitArgs p;
  std::string error;
  if (!Parse(args, &p, &error)) {
    err << "mirk3-cli pit: " << error << "\n" << PIT_USAGE;
    return 2;
  }
  return p.file.empty() ? ReadPhone(p, out, err) : ShowFile(p.file, out, err);
}

}  // namespace mirk3
