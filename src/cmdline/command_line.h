// What the command lines of the three programs share, on top of CLI11: a help text that lists
// every option with its default and that `--help` shows from anywhere on the line, `--version`,
// whole numbers read as decimal (CLI11 alone would read "010" as octal eight), a value that is
// an option ("--ap --out x": the value was forgotten) refused, and every mistake the parser
// finds told in one line on standard error with exit status 2.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace CLI {
class App;
class Validator;
}  // namespace CLI

namespace mirk3 {

// The exit status of a command line the program cannot run.
inline constexpr int USAGE_ERROR_STATUS = 2;

// The project's version, as the build knows it.
const char* ProjectVersion();

// A command line named `name` (the program, or the program and its command: "mirk3-cli flash")
// that answers --help and --version. Options and subcommands are added by the caller.
std::unique_ptr<CLI::App> NewCommandLine(const std::string& name, const std::string& description);

enum class ParseResult {
  Run,      // go on: every option is stored
  Shown,    // `text` is the help or the version, for standard output
  Mistake,  // `text` is the one line that says what is wrong
};

struct ParseOutcome {
  ParseResult result = ParseResult::Run;
  std::string text;
};

// Parses `args` (the words after the program's or command's name). A line that holds --help
// (or -h) anywhere before a "--" shows the help, even when something else on it is wrong.
ParseOutcome ParseCommandLine(CLI::App& app, const std::vector<std::string>& args);

// The same, printed: the help or version on `out` (exit status 0), or "<name>: <mistake>" on
// `err` (exit status 2). Nothing when the command goes on.
std::optional<int> ParseCommandLine(CLI::App& app, const std::vector<std::string>& args,
                                    std::ostream& out, std::ostream& err);

// A mistake found after parsing (a missing or contradicting choice): "<name>: <problem>" and
// the usage line of the command that was given, on `err`. Returns exit status 2.
int ReportUsageMistake(const CLI::App& app, std::ostream& err, const std::string& problem);

// A whole decimal number ("12", "-4", "010" is ten) from `min` to `max`; nothing otherwise.
std::optional<int64_t> DecimalNumber(std::string_view text, int64_t min, int64_t max);

// Checks an option's value as DecimalNumber does, and hands CLI11 the number without leading
// zeros so that it reads it as an operator meant it.
CLI::Validator DecimalRange(int64_t min, int64_t max);

}  // namespace mirk3
