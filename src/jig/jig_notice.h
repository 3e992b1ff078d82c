// What the station's start, pass and fail handlers tell the jig about one phone: the event at
// the phone's jig position (position index + 1 on the wire), or nothing for a phone at no
// position, since any position it went to would be another phone's.
#pragma once

#include <string>

#include "jig/jig_settings.h"
#include "jig/thread_mdl_control.h"

namespace mirk3 {

// `event` is JigStart, JigPass or JigFail. False when nothing was sent or the jig did not
// answer; the caller goes on either way.
bool NotifyJigOfPort(CThreadMdlControl& jig, const JigSettings& settings, int event, int port,
                     const std::string& usbPath);

}  // namespace mirk3
