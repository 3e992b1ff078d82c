// The USB gadget behind a gadget-side serial terminal (/dev/ttyGS<n>), found in configfs: the
// gadget whose serial function (acm.*, gser.*) has port_num n. Its UDC file binds it to a
// device controller: written empty, the gadget leaves the bus and the host sees the cable
// pulled; written with the controller's name again, the host sees it plugged in.
#pragma once

#include <mutex>
#include <optional>
#include <string>

namespace mirk3::devsim {

inline constexpr char GADGET_CONFIGFS[] = "/sys/kernel/config/usb_gadget";

class GadgetUdc {
 public:
  // nullopt (with the reason) when `ttyPath` is not ttyGS<n> or no gadget under `root` serves
  // that line.
  static std::optional<GadgetUdc> ForTty(const std::string& ttyPath, const std::string& root,
                                         std::string* error);
  GadgetUdc(const GadgetUdc& other) : udcFile_(other.udcFile_), controller_(other.controller_) {}

  // Pulls the gadget off its controller, remembering which it was; harmless when unbound.
  bool Unplug(std::string* error);
  // Binds the gadget to the controller it last had; harmless when bound.
  bool Plug(std::string* error);
  const std::string& UdcFile() const { return udcFile_; }

 private:
  GadgetUdc(std::string udcFile, std::string controller)
      : udcFile_(std::move(udcFile)), controller_(std::move(controller)) {}
  // The controller named in the UDC file now; empty when unbound.
  std::optional<std::string> Bound(std::string* error) const;
  bool Write(const std::string& text, std::string* error) const;

  std::string udcFile_;
  std::string controller_;  // the last one it was bound to
  std::mutex mutex_;
};

}  // namespace mirk3::devsim
