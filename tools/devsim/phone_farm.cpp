#include "devsim/phone_farm.h"

#include <filesystem>

#include "devsim/builtin_pit.h"
#include "devsim/usb_sysfs.h"
#include "serial/serial_line.h"
#include "wire/device_info_record.h"

namespace mirk3::devsim {

PhoneSetup SetupFor(const FarmConfig& config, int port) {
  PhoneSetup setup;
  setup.port = port;
  setup.protocol = config.protocol;
  setup.pit = config.pit.empty() ? BuiltinPit() : config.pit;
  const auto found = config.faults.find(port);
  if (found != config.faults.end()) setup.faults = found->second;
  const std::string model = setup.faults.model.value_or(config.model);
  setup.deviceInfo =
      BuildDeviceInfo({{DEVINFO_ITEM_MODEL, model}, {DEVINFO_ITEM_TEXT, DEVICE_TEXT}},
                      setup.faults.deviceInfoMagic.value_or(DEVINFO_MAGIC));
  setup.deviceInfoSize =
      setup.faults.deviceInfoSize.value_or(static_cast<int32_t>(setup.deviceInfo.size()));
  return setup;
}

std::string UsbPathFor(const FarmConfig& config, int port) {
  const auto found = config.usbPaths.find(port);
  return found != config.usbPaths.end() ? found->second : "1-1." + std::to_string(port + 1);
}

std::string PhoneName(const FarmConfig& config, int port) {
  const auto found = config.ttys.find(port);
  if (found == config.ttys.end()) return PortName(port);
  return std::filesystem::path(found->second).filename().string();
}

UsbId UsbIdFor(const FarmConfig& config, int port) {
  const auto found = config.usbIds.find(port);
  return found != config.usbIds.end() ? found->second : DEFAULT_USB_ID;
}

PhoneFarm::PhoneFarm(FarmConfig config) : config_(std::move(config)) {}

PhoneFarm::~PhoneFarm() { Stop(); }

bool PhoneFarm::Start(std::string* error) {
  std::string ignored;
  std::string& reason = error ? *error : ignored;
  if (config_.portDir.empty() || config_.ports.empty()) {
    reason = "no port dir or no ports";
    return false;
  }
  phones_.clear();
  if (!FindGadgets(&reason)) return false;
  std::error_code ec;
  std::filesystem::create_directories(config_.portDir, ec);
  if (!config_.traceDir.empty()) std::filesystem::create_directories(config_.traceDir, ec);
  for (const int port : config_.ports) {
    if (!Plug(port, &reason)) {
      Stop();
      return false;
    }
  }
  return true;
}

void PhoneFarm::Stop() {
  for (auto& [port, phone] : phones_) phone->Stop();
  if (!config_.sysfsDir.empty()) PruneSysfsTree(config_.sysfsDir);
}

// A served terminal named ttyGS<n> must be a gadget's: its cable is its UDC file. Other
// terminals (a test's pseudo-terminal) are served without one.
bool PhoneFarm::FindGadgets(std::string* error) {
  gadgets_.clear();
  for (const auto& [port, tty] : config_.ttys) {
    if (std::filesystem::path(tty).filename().string().rfind("ttyGS", 0) != 0) continue;
    std::optional<GadgetUdc> gadget = GadgetUdc::ForTty(tty, config_.gadgetRoot, error);
    if (!gadget) return false;
    gadgets_[port] = std::make_unique<GadgetUdc>(*gadget);
  }
  return true;
}

PhonePlaces PhoneFarm::PlacesFor(int port) const {
  const std::string name = PhoneName(config_, port);
  PhonePlaces places;
  places.linkPath = LinkPath(port);
  if (const auto tty = config_.ttys.find(port); tty != config_.ttys.end()) {
    places.ttyPath = tty->second;
    const auto gadget = gadgets_.find(port);
    places.gadget = gadget == gadgets_.end() ? nullptr : gadget->second.get();
  }
  if (!config_.outDir.empty() && !config_.discard) places.storeDir = config_.outDir + "/" + name;
  if (!config_.traceDir.empty()) places.traceFile = config_.traceDir + "/" + name + ".trace";
  if (!config_.sysfsDir.empty()) {
    places.sysfsRoot = config_.sysfsDir;
    places.usbPath = UsbPathFor(config_, port);
    places.usbId = UsbIdFor(config_, port);
  }
  return places;
}

const Phone* PhoneFarm::HolderOfUsbPath(const std::string& usbPath) const {
  for (const auto& [port, phone] : phones_) {
    if (phone->Plugged() && phone->UsbPath() == usbPath) return phone.get();
  }
  return nullptr;
}

bool PhoneFarm::Plug(int port, std::string* error) {
  std::string ignored;
  std::string& reason = error ? *error : ignored;
  if (Plugged(port)) {
    reason = PhoneName(config_, port) + " is plugged already";
    return false;
  }
  PhonePlaces places = PlacesFor(port);
  if (!places.sysfsRoot.empty()) {
    if (!ValidUsbPath(places.usbPath)) {
      reason = "not a USB path: '" + places.usbPath + "'";
      return false;
    }
    if (const Phone* holder = HolderOfUsbPath(places.usbPath)) {
      reason = "USB path " + places.usbPath + " is " + PortName(holder->Port()) + "'s";
      return false;
    }
  }
  // A phone that rebooted, vanished or was unplugged leaves its place to a new one.
  phones_.erase(port);
  auto phone = std::make_unique<Phone>(SetupFor(config_, port), std::move(places));
  if (!phone->Start(&reason)) return false;
  phones_[port] = std::move(phone);
  return true;
}

bool PhoneFarm::Unplug(int port) {
  const auto found = phones_.find(port);
  if (found == phones_.end() || !found->second->Plugged()) return false;
  found->second->Stop();
  return true;
}

std::vector<int> PhoneFarm::PluggedPorts() const {
  std::vector<int> ports;
  for (const auto& [port, phone] : phones_) {
    if (phone->Plugged()) ports.push_back(port);
  }
  return ports;
}

const Phone* PhoneFarm::Find(int port) const {
  const auto found = phones_.find(port);
  return found == phones_.end() ? nullptr : found->second.get();
}

std::vector<std::string> PhoneFarm::Trace(int port) const {
  const Phone* phone = Find(port);
  return phone ? phone->Trace() : std::vector<std::string>{};
}

std::vector<uint8_t> PhoneFarm::Pit(int port) const {
  const Phone* phone = Find(port);
  return phone ? phone->Pit() : std::vector<uint8_t>{};
}

bool PhoneFarm::Plugged(int port) const {
  const Phone* phone = Find(port);
  return phone && phone->Plugged();
}

std::string PhoneFarm::LinkPath(int port) const {
  const auto tty = config_.ttys.find(port);
  return tty != config_.ttys.end() ? tty->second : config_.portDir + "/" + PortName(port);
}

std::string PhoneFarm::SlavePath(int port) const {
  const Phone* phone = Find(port);
  return phone ? phone->SlavePath() : std::string();
}

}  // namespace mirk3::devsim
