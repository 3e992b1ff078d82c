#include "devsim/gadget_udc.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "base/file.h"

namespace mirk3::devsim {
namespace {

namespace fs = std::filesystem;

std::string FirstLine(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  return line;
}

// n of "ttyGS<n>", or nullopt.
std::optional<std::string> GadgetLine(const std::string& ttyPath) {
  const std::string name = fs::path(ttyPath).filename().string();
  const std::string prefix = "ttyGS";
  if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) return {};
  const std::string number = name.substr(prefix.size());
  if (number.find_first_not_of("0123456789") != std::string::npos) return {};
  return number;
}

}  // namespace

std::optional<GadgetUdc> GadgetUdc::ForTty(const std::string& ttyPath, const std::string& root,
                                           std::string* error) {
  const std::optional<std::string> line = GadgetLine(ttyPath);
  if (!line) {
    *error = ttyPath + " is not a gadget's serial line (ttyGS<n>)";
    return {};
  }
  std::error_code ec;
  for (const auto& gadget : fs::directory_iterator(root, ec)) {
    std::error_code inner;
    for (const auto& function : fs::directory_iterator(gadget.path() / "functions", inner)) {
      const std::string kind = function.path().filename().string();
      if (kind.rfind("acm.", 0) != 0 && kind.rfind("gser.", 0) != 0) continue;
      if (FirstLine(function.path() / "port_num") != *line) continue;
      const fs::path udc = gadget.path() / "UDC";
      return GadgetUdc(udc.string(), FirstLine(udc));
    }
  }
  *error = "no USB gadget under " + root + " serves " + ttyPath;
  return {};
}

std::optional<std::string> GadgetUdc::Bound(std::string* error) const {
  std::ifstream in(udcFile_);
  if (!in) {
    *error = "cannot read " + udcFile_;
    return {};
  }
  return FirstLine(udcFile_);
}

bool GadgetUdc::Write(const std::string& text, std::string* error) const {
  const UniqueFd fd(::open(udcFile_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC));
  const std::string line = text + "\n";
  if (!fd || !WriteFully(fd.Get(), line.data(), line.size())) {
    *error = "cannot write '" + text + "' to " + udcFile_ + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

bool GadgetUdc::Unplug(std::string* error) {
  std::lock_guard lock(mutex_);
  const std::optional<std::string> bound = Bound(error);
  if (!bound) return false;
  if (bound->empty()) return true;
  controller_ = *bound;
  return Write("", error);
}

bool GadgetUdc::Plug(std::string* error) {
  std::lock_guard lock(mutex_);
  const std::optional<std::string> bound = Bound(error);
  if (!bound) return false;
  if (!bound->empty()) return true;
  if (controller_.empty()) {
    *error = udcFile_ + ": the gadget was never bound to a controller";
    return false;
  }
  return Write(controller_, error);
}

}  // namespace mirk3::devsim
