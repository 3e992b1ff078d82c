#include "cli/cli_jig.h"

#include <CLI/CLI.hpp>

#include "station/station.h"
#include "station/station_settings.h"
#include "base/text.h"
#include "cmdline/command_line.h"
#include "jig/frames.h"
#include "jig/thread_mdl_control.h"
#include "ports/port_dir.h"
#include "serial/serial_line.h"

namespace mirk3 {
namespace {

struct JigArgs {
  std::vector<std::string> words;  // the action and its operands
  std::string device;
  int cable = 0;
  int64_t replyWaitMs = Timing{}.jigReplyWait.count();
};

// "start", "pass", "fail" or their numbers 1..3; -1 otherwise.
int EventOf(const std::string& word) {
  if (word == "start" || word == "1") return JigStart;
  if (word == "pass" || word == "2") return JigPass;
  if (word == "fail" || word == "3") return JigFail;
  return -1;
}

// The request the words name; `problem` says what is wrong with them.
JigRequest RequestOf(const std::vector<std::string>& words, std::string* problem) {
  JigRequest request;
  if (words.empty()) {
    *problem = "no action given: check, setup or event TYPE POSITION";
    return request;
  }
  request.action = words[0];
  const size_t operands = request.action == "event" ? 3 : 1;
  if (request.action != "check" && request.action != "setup" && request.action != "event") {
    *problem = "unknown action '" + request.action + "': check, setup or event TYPE POSITION";
  } else if (words.size() != operands) {
    *problem = request.action == "event" ? "event needs TYPE (start, pass, fail) and POSITION 1..8"
                                         : request.action + " takes no operands";
  } else if (request.action == "event") {
    request.event = EventOf(words[1]);
    const auto position = DecimalNumber(words[2], 1, JIG_POSITIONS);
    request.position = position ? static_cast<int>(*position) : 0;
    if (request.event < 0) *problem = "unknown event type '" + words[1] + "': start, pass, fail";
    if (!position) *problem = "the position must be 1..8, not '" + words[2] + "'";
  }
  return request;
}

}  // namespace

int RunJigRequest(const JigRequest& request, const JigSettings& settings, const Timing& timing,
                  std::ostream& out, std::ostream& err) {
  CThreadMdlControl jig(
      timing, [&out](const std::string& line) { out << FormatLogLine(0, NO_PORT, line) << '\n'; });
  jig.WatchTraffic([&out](bool sent, const uint8_t* bytes, int length) {
    const size_t count = static_cast<size_t>(length);
    if (sent) {
      out << "sent     " << DescribeFrame(bytes, count) << '\n';
    } else {
      out << "received "
          << (count ? PrintableBytes(bytes, count) + Format(" (%d bytes)", length) : "nothing")
          << '\n';
    }
  });
  out << "jig " << settings.device << '\n';
  bool answered = false;
  if (request.action == "setup") {
    answered = jig.JigSetupPhase1(settings.device, settings.microCable);
    answered = jig.JigSetupPhase2(settings.device, settings.microCable) && answered;
    out << FormatLogLine(0, NO_PORT, "Anyway Jig setting is completed...") << '\n';
  } else {
    jig.SetJigPort(settings.device);
    answered = jig.JigEvent(JigCheck, 0);
    if (answered && request.action == "event") {
      answered = jig.JigEvent(request.event, request.position);
    }
  }
  if (answered) return 0;
  err << "mirk3-cli jig: " << settings.device
      << (request.action == "setup" ? ": the set-up could not be sent\n"
                                    : ": the jig did not answer as expected\n");
  return 1;
}

int RunJigCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  JigArgs a;
  const auto app = NewCommandLine(
      "mirk3-cli jig",
      "Talks to a test jig as the station does: 'check' opens the jig line and sends the "
      "connection check; 'setup' sends both set-up phases; 'event TYPE POSITION' sends the "
      "check, then a start, pass or fail frame for position 1..8. Every frame sent and every "
      "reply is printed.\nExit status: 0 the jig answered as expected, 1 it did not, 2 usage "
      "error.");
  app->add_option("ACTION", a.words, "check | setup | event TYPE POSITION");
  std::string iniPath, portDir;
  AddSettingsOption(*app, iniPath);
  app->add_option("--port-dir", portDir, "where D300COM's ttyUSB<n> is")
      ->type_name("DIR")
      ->default_str("$MIRK3_PORT_DIR, else /dev");
  app->add_option("--jig-device", a.device, "the jig's serial device, instead of [D300Jig]'s")
      ->type_name("PATH");
  CLI::Option* cable =
      app->add_option("--cable", a.cable,
                      "set-up for a micro-USB cable when not 0 (default: [D300Jig] MicroCable)")
      ->transform(DecimalRange(INT32_MIN, INT32_MAX))
      ->type_name("N");
  app->add_option("--reply-wait-ms", a.replyWaitMs,
                  "pause after a frame before the jig's reply is looked for")
      ->transform(DecimalRange(0, 60000))
      ->type_name("MS")
      ->capture_default_str();
  if (const auto status = ParseCommandLine(*app, args, out, err)) return *status;
  std::string problem;
  const JigRequest request = RequestOf(a.words, &problem);
  // The jig of the settings file's [D300Jig], as the station finds it; the options win.
  const std::optional<Settings> file =
      LoadStationSettings(iniPath, err, "mirk3-cli jig", SettingsCheck{portDir, "", true});
  if (!file) return USAGE_ERROR_STATUS;
  JigSettings settings = ResolveJigSettings(
      [&file](const std::string& key) { return file->file.String("D300Jig", key, ""); },
      portDir.empty() ? DefaultPortDir() : portDir);
  if (!a.device.empty()) settings.device = a.device;
  if (cable->count() > 0) settings.microCable = a.cable;
  const std::string phones = portDir.empty() ? DefaultPortDir() : portDir;
  if (problem.empty() && PhonePortOfPath(settings.device, phones) >= 0) {
    problem = settings.device + " is one of the phones' ports (" +
              PortName(PhonePortOfPath(settings.device, phones)) + " of " + phones +
              "): the jig line never opens one";
  }
  if (problem.empty() && settings.device.empty()) {
    problem = "no jig: give --jig-device PATH, or D300COM or Device in [D300Jig] of the settings";
  }
  if (!problem.empty()) return ReportUsageMistake(*app, err, problem);
  Timing timing;
  timing.jigReplyWait = Millis(a.replyWaitMs);
  return RunJigRequest(request, settings, timing, out, err);
}

}  // namespace mirk3
