// An engine handed a line through its context speaks over that line alone: it never looks for
// a device of its own port, and gives the line up at the close as it would close its port.
#include "engine/engine_line.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "base/le.h"
#include "engine/download_engine.h"
#include "support/pty_peer.h"
#include "support/temp_dir.h"

namespace mirk3 {
namespace {

using namespace std::chrono_literals;

TEST(EngineLine, AHandedLineCarriesTheWholeSessionAndIsGivenUpAtTheClose) {
  test::TempDir phoneDir, emptyDir;
  test::PtyPeer phone(phoneDir.Path(), 5);
  std::thread serve([&phone] {
    if (phone.Read(4).size() != 4) return;
    phone.Write("TASH", 4);
    for (;;) {
      const auto request = phone.Read(REQUEST_PACKET_SIZE);
      if (request.size() != REQUEST_PACKET_SIZE) return;
      const int32_t type = GetLe32s(&request[0]);
      phone.Respond(type, type == RQT_INIT ? (3 << 16) : 0);  // version 3: no device info
      if (type == RQT_CLOSE) return;
    }
  });
  Timing timing;
  timing.openSettle = 0ms;
  timing.firstByteTimeout = 20s;
  auto line = std::make_shared<CWinRs232cSync>(timing, phoneDir.Path());
  ASSERT_TRUE(line->OpenPort(5));

  EngineContext context;
  context.timing = timing;
  context.timing.openAttempts = 1;  // its own port 7 does not exist: opening it would fail
  context.timing.stepPause = context.timing.resetDelayUnit = 0ms;
  context.portDir = emptyDir.Path();
  context.ownExecutablePath = "";
  context.line = line;
  bool passed = false;
  {
    CDownloadEngine engine(nullptr, 7, context);
    DownloadOptions options;
    options.deviceInfo = 1;
    engine.CopyOptions(options);
    passed = engine.RunSteps();
  }
  serve.join();
  EXPECT_TRUE(passed);
  EXPECT_FALSE(line->IsOpen());
}

}  // namespace
}  // namespace mirk3
