#include "devsim/port_list.h"

#include <algorithm>
#include <charconv>

namespace mirk3::devsim {
namespace {

std::optional<int> ParsePort(std::string_view text) {
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return {};
  if (value < 0 || value > MAX_PORT) return {};
  return value;
}

}  // namespace

std::optional<std::vector<int>> ParsePortList(std::string_view text) {
  std::vector<int> ports;
  while (!text.empty()) {
    const size_t comma = text.find(',');
    const std::string_view item = text.substr(0, comma);
    text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
    if (comma != std::string_view::npos && text.empty()) return {};  // trailing comma
    const size_t dash = item.find('-');
    const auto first = ParsePort(item.substr(0, dash));
    const auto last = dash == std::string_view::npos ? first : ParsePort(item.substr(dash + 1));
    if (!first || !last || *last < *first) return {};
    for (int port = *first; port <= *last; ++port) ports.push_back(port);
  }
  if (ports.empty()) return {};
  std::sort(ports.begin(), ports.end());
  ports.erase(std::unique(ports.begin(), ports.end()), ports.end());
  return ports;
}

}  // namespace mirk3::devsim
