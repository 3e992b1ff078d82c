#include "ports/usb_identity.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "base/text.h"

namespace mirk3 {
namespace {

namespace fs = std::filesystem;

std::optional<uint16_t> ReadHexId(const fs::path& file) {
  std::ifstream in(file);
  std::string text;
  if (!(in >> text) || text.size() != 4) return std::nullopt;
  char* end = nullptr;
  const unsigned long value = std::strtoul(text.c_str(), &end, 16);
  if (*end != '\0') return std::nullopt;
  return static_cast<uint16_t>(value);
}

}  // namespace

std::string SysfsRoot() {
  const char* root = std::getenv("MIRK3_SYSFS_ROOT");
  return root && *root ? root : "/sys";
}

UsbIdentity ReadUsbIdentity(int port, const std::string& sysfsRoot) {
  UsbIdentity identity;
  std::error_code error;
  const fs::path link = fs::path(sysfsRoot) / "class/tty" / ("ttyACM" + std::to_string(port)) /
                        "device";
  fs::path dir = fs::canonical(link, error);
  if (error) return identity;
  // The tty hangs on a USB interface ("1-1.3:1.0"); its USB device is the first dir above it
  // that carries the device's ids.
  for (int depth = 0; depth < 8 && dir.has_relative_path(); ++depth, dir = dir.parent_path()) {
    if (!fs::exists(dir / "idVendor", error)) continue;
    identity.path = dir.filename().string();
    identity.vendor = ReadHexId(dir / "idVendor");
    identity.product = ReadHexId(dir / "idProduct");
    break;
  }
  return identity;
}

std::string UsbIdText(const UsbIdentity& identity) {
  if (!identity.vendor || !identity.product) return "";
  return Format("%04x:%04x", *identity.vendor, *identity.product);
}

}  // namespace mirk3
