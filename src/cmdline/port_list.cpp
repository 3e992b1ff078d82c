#include "cmdline/port_list.h"

#include <CLI/CLI.hpp>
#include <algorithm>

#include "cmdline/command_line.h"

namespace mirk3 {

std::optional<std::vector<int>> ParsePortList(std::string_view text, int maxPort) {
  std::vector<int> ports;
  for (size_t start = 0; start <= text.size();) {
    const size_t comma = std::min(text.find(',', start), text.size());
    const std::string_view item = text.substr(start, comma - start);
    const size_t dash = item.find('-', 1);  // a leading dash is a sign, refused below
    const auto first = DecimalNumber(item.substr(0, dash), 0, maxPort);
    const auto last =
        dash == std::string_view::npos ? first : DecimalNumber(item.substr(dash + 1), 0, maxPort);
    if (!first || !last || *last < *first) return std::nullopt;
    for (auto port = *first; port <= *last; ++port) ports.push_back(static_cast<int>(port));
    start = comma + 1;
  }
  return ports;
}

CLI::Option* AddPortListOption(CLI::App& app, const std::string& name, std::vector<int>& ports,
                               int maxPort, const std::string& description) {
  const auto append = [&ports, maxPort](const std::vector<std::string>& lists) {
    for (const std::string& list : lists) {
      const auto listed = ParsePortList(list, maxPort);
      ports.insert(ports.end(), listed->begin(), listed->end());
    }
  };
  const CLI::Validator isPortList(
      [maxPort](std::string& text) {
        return ParsePortList(text, maxPort) ? std::string()
                                            : "'" + text + "' is not a list of ports from 0 to " +
                                                  std::to_string(maxPort) + " such as 0-3,7";
      },
      "");
  return app.add_option_function<std::vector<std::string>>(name, append, description)
      ->check(isPortList)
      ->allow_extra_args(false)
      ->type_name("LIST");
}

}  // namespace mirk3
