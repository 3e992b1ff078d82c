// Port lists as an operator writes them: "0-3,7" names ports 0, 1, 2, 3 and 7. mirk3-devsim
// serves the ports of its lists; mirk3-cli runs them in the order they are written.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace CLI {
class App;
class Option;
}  // namespace CLI

namespace mirk3 {

// The ports in the order written, a port named twice kept twice; nothing for a malformed list
// (an empty item, a reversed range, a port above `maxPort`).
std::optional<std::vector<int>> ParsePortList(std::string_view text, int maxPort);

// An option `name` that takes a port list and may be given several times: every port of every
// list is appended to `ports` in the order written; a list that is not one is a mistake.
CLI::Option* AddPortListOption(CLI::App& app, const std::string& name, std::vector<int>& ports,
                               int maxPort, const std::string& description);

}  // namespace mirk3
