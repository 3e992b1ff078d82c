// `mirk3-cli ports`: the slot table as the station would fill it now (slot, port, USB path,
// vendor:product, the reservation of the slot), and with --watch the "Added!!"/"Removed!!" log
// lines as phones come and go. This is how an operator labels the cables of a new station:
// plug a phone into each cable in turn and write the USB path shown into [Slots].
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace mirk3 {

// Exit 0, 2 for a usage error or a settings file or port dir that cannot be read.
int RunPortsCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace mirk3
