#include "cmdline/command_line.h"

#include <CLI/CLI.hpp>
#include <algorithm>

namespace mirk3 {
namespace {

bool IsFlag(const CLI::Option* opt) { return opt->get_expected_max() == 0; }

// Every option's line ends with its default; flags are off unless given.
class DefaultsFormatter : public CLI::Formatter {
 public:
  DefaultsFormatter() {
    label("Usage", "usage");
    label("SUBCOMMAND", "COMMAND");
    column_width(36);
  }

  std::string make_option_opts(const CLI::Option* opt) const override {
    return IsFlag(opt) || opt->get_positional() ? "" : " " + opt->get_type_name();
  }

  std::string make_option_desc(const CLI::Option* opt) const override {
    if (opt->get_positional() || opt->check_lname("help") || opt->check_lname("version")) {
      return opt->get_description();
    }
    std::string shown = opt->get_default_str();
    if (shown.empty()) shown = IsFlag(opt) ? "off" : "none";
    return opt->get_description() + " (default: " + shown + ")";
  }
};

const CLI::App& Root(const CLI::App& app) {
  return app.get_parent() ? Root(*app.get_parent()) : app;
}

std::string FullName(const CLI::App& app) {
  return app.get_parent() ? FullName(*app.get_parent()) + " " + app.get_name() : app.get_name();
}

// An option's value that is itself an option means the value was forgotten: "--ap --out x"
// would otherwise take "--out" as the package.
void RefuseOptionsAsValues(CLI::App& app) {
  const CLI::Validator notAnOption(
      [](std::string& value) {
        return value.starts_with("--") ? "no value given (" + value + " is an option)"
                                       : std::string();
      },
      "");
  for (CLI::Option* option : app.get_options()) {
    if (!IsFlag(option) && option->nonpositional()) option->check(notAnOption);
  }
  for (CLI::App* command : app.get_subcommands({})) RefuseOptionsAsValues(*command);
}

bool AsksForHelp(const std::vector<std::string>& args) {
  const auto end = std::find(args.begin(), args.end(), "--");
  return std::find(args.begin(), end, "--help") != end || std::find(args.begin(), end, "-h") != end;
}

// The help of the command given; a command that takes its own words (a prefix command) has its
// own help, so the program's is shown.
std::string HelpText(const CLI::App& app) {
  const auto chosen = app.get_subcommands();
  if (!chosen.empty() && !chosen.front()->get_prefix_command()) return app.help();
  return app.get_formatter()->make_help(&app, app.get_name(), CLI::AppFormatMode::Normal);
}

std::string OneLine(std::string text) {
  std::replace(text.begin(), text.end(), '\n', ' ');
  return text;
}

}  // namespace

const char* ProjectVersion() { return MIRK3_VERSION; }

std::unique_ptr<CLI::App> NewCommandLine(const std::string& name, const std::string& description) {
  auto app = std::make_unique<CLI::App>(description, name);
  app->formatter(std::make_shared<DefaultsFormatter>());
  app->set_help_flag("-h,--help", "show this help and exit");
  const std::string program = name.substr(0, name.find(' '));
  app->set_version_flag("--version", program + " " + ProjectVersion(),
                        "show the program's version and exit");
  return app;
}

ParseOutcome ParseCommandLine(CLI::App& app, const std::vector<std::string>& args) {
  RefuseOptionsAsValues(app);
  std::vector<std::string> reversed(args.rbegin(), args.rend());  // CLI11 takes them last first
  try {
    app.parse(reversed);
    return {};
  } catch (const CLI::CallForHelp&) {
    return {ParseResult::Shown, HelpText(app)};
  } catch (const CLI::CallForAllHelp&) {
    return {ParseResult::Shown, HelpText(app)};
  } catch (const CLI::CallForVersion& version) {
    return {ParseResult::Shown, std::string(version.what()) + "\n"};
  } catch (const CLI::ParseError& mistake) {
    if (AsksForHelp(args)) return {ParseResult::Shown, HelpText(app)};
    return {ParseResult::Mistake, OneLine(mistake.what())};
  }
}

std::optional<int> ParseCommandLine(CLI::App& app, const std::vector<std::string>& args,
                                    std::ostream& out, std::ostream& err) {
  const ParseOutcome outcome = ParseCommandLine(app, args);
  switch (outcome.result) {
    case ParseResult::Run:
      return std::nullopt;
    case ParseResult::Shown:
      out << outcome.text;
      return 0;
    case ParseResult::Mistake:
      break;
  }
  err << app.get_name() << ": " << outcome.text << "\n";
  return USAGE_ERROR_STATUS;
}

int ReportUsageMistake(const CLI::App& app, std::ostream& err, const std::string& problem) {
  err << Root(app).get_name() << ": " << problem << "\n";
  const auto formatter = std::dynamic_pointer_cast<CLI::Formatter>(app.get_formatter());
  if (formatter) err << formatter->make_usage(&app, FullName(app));
  return USAGE_ERROR_STATUS;
}

std::optional<int64_t> DecimalNumber(std::string_view text, int64_t min, int64_t max) {
  std::string digits(text);
  const size_t sign = digits.starts_with('-') ? 1 : 0;
  while (digits.size() > sign + 1 && digits[sign] == '0') digits.erase(sign, 1);
  int64_t value = 0;
  // The number must read back as written: no sign of plus, no blanks, no base prefix, no
  // overflow.
  if (!CLI::detail::lexical_cast(digits, value) || std::to_string(value) != digits) return {};
  if (value < min || value > max) return {};
  return value;
}

CLI::Validator DecimalRange(int64_t min, int64_t max) {
  return CLI::Validator(
      [min, max](std::string& text) {
        const auto value = DecimalNumber(text, min, max);
        if (!value) {
          return "'" + text + "' is not a whole number from " + std::to_string(min) + " to " +
                 std::to_string(max);
        }
        text = std::to_string(*value);
        return std::string();
      },
      "");
}

}  // namespace mirk3
