#include "jig/jig_notice.h"

namespace mirk3 {

bool NotifyJigOfPort(CThreadMdlControl& jig, const JigSettings& settings, int event, int port,
                     const std::string& usbPath) {
  if (settings.device.empty()) return false;
  const int position = JigPositionOf(settings, port, usbPath);
  if (position < 0) return false;
  jig.SetJigPort(settings.device);
  return jig.JigEvent(event, position + 1);
}

}  // namespace mirk3
