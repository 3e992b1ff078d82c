#include "devsim/phone.h"

#include <sys/eventfd.h>

#include <cstdint>

#include "serial/serial_line.h"

namespace mirk3::devsim {

Phone::Phone(PhoneSetup setup, PhonePlaces places)
    : port_(setup.port),
      places_(std::move(places)),
      stopFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      line_(stopFd_.Get()),
      store_(places_.storeDir),
      bootLoader_(std::move(setup), &line_, &store_, &trace_) {}

Phone::~Phone() { Stop(); }

bool Phone::Start(std::string* error) {
  if (!stopFd_) {
    *error = "cannot create an event descriptor";
    return false;
  }
  if (!store_.Prepare(error)) return false;
  if (!places_.traceFile.empty() && !trace_.OpenFile(places_.traceFile, error)) return false;
  // The device first: whoever sees the port appear can read which cable it is on.
  if (!places_.sysfsRoot.empty()) {
    usb_ = std::make_unique<UsbSysfsDevice>(places_.sysfsRoot, PortName(port_), places_.usbPath,
                                            places_.usbId);
    if (!usb_->Write(error)) return false;
    line_.SetAfterUnplug([this] { usb_->Remove(); });
  }
  if (!places_.ttyPath.empty()) return StartOnTerminal(error);
  if (!line_.Open(places_.linkPath, error)) {
    if (usb_) usb_->Remove();
    return false;
  }
  thread_ = std::thread([this] { bootLoader_.Serve(); });
  return true;
}

// The terminal is opened before the gadget is plugged: a gadget drops what the host sends
// while nobody has its terminal open.
bool Phone::StartOnTerminal(std::string* error) {
  if (GadgetUdc* gadget = places_.gadget) {
    line_.SetAfterUnplug([gadget] {
      std::string ignored;
      gadget->Unplug(&ignored);
    });
  }
  if (!line_.OpenExisting(places_.ttyPath, error)) return false;
  if (places_.gadget && !places_.gadget->Plug(error)) {
    line_.Unplug();
    return false;
  }
  thread_ = std::thread([this] { bootLoader_.Serve(); });
  return true;
}

void Phone::Stop() {
  if (thread_.joinable()) {
    const uint64_t one = 1;
    // An eventfd only refuses a write when its counter would overflow: it is set already.
    WriteFully(stopFd_.Get(), &one, sizeof one);
    thread_.join();
  }
  line_.Unplug();
}

}  // namespace mirk3::devsim
