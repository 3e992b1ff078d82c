#include "support/phone_run.h"

#include "devsim/builtin_pit.h"
#include "devsim/farm_config.h"
#include "packages/meta_data_results.h"
#include "support/scratch_dir.h"
#include "support/test_packages.h"

namespace mirk3::fuzz {
namespace {

struct Packages {
  std::string ap, cp, pit;
};

// Members small enough that each fits one packet, named as the emulated phone's table names
// its partitions.
const Packages& MadePackages() {
  static const Packages* made = [] {
    auto* p = new Packages{ScratchDir() + "/AP_phone.tar", ScratchDir() + "/CP_phone.tar", ""};
    test::WriteSignedPackage(
        p->ap, {{"boot.img", test::TestBytes(3000, 1)}, {"system.img", test::TestBytes(70000, 2)}},
        PhoneRunModel());
    test::WriteSignedPackage(p->cp, {{"modem.bin", test::TestBytes(5000, 3)}}, PhoneRunModel());
    const std::vector<uint8_t> table = devsim::BuiltinPit();
    p->pit = WriteScratchFile("phone.pit", table.data(), table.size());
    return p;
  }();
  return *made;
}

}  // namespace

const char* PhoneRunModel() { return devsim::DEFAULT_MODEL; }

DownloadOptions PhoneRunOptions(uint8_t choices) {
  const Packages& packages = MadePackages();
  DownloadOptions options;
  options.deviceInfo = (choices & SHORT_SEQUENCE) != 0;
  options.FlashLock = (choices & FLASH_LOCK) != 0;
  options.NandErase = (choices & NAND_ERASE) != 0;
  options.TFlash = (choices & T_FLASH) != 0;
  options.rtnForSprint = (choices & RTN) != 0;
  options.AutoReboot = (choices & AUTO_REBOOT) != 0;
  options.RePartition = (choices & REPARTITION) != 0;
  options.pitPath = packages.pit;
  options.slotEnabled[AP] = 1;
  options.slotPath[AP] = packages.ap;
  if ((choices & MODEM_PACKAGE) != 0) {
    options.slotEnabled[CP] = 1;
    options.slotPath[CP] = packages.cp;
  }
  options.FResetTime = 0;
  options.PacketSize = 131072;  // the smallest packets a phone takes keep every run short
  return options;
}

EngineContext PhoneRunContext(std::shared_ptr<ByteLine> line) {
  static const auto verdicts = std::make_shared<MetaDataResults>();
  EngineContext context;
  Timing& t = context.timing;
  t.openAttempts = 1;
  t.openRetryPause = t.openSettle = t.stepPause = t.workerStartDelay = t.workerStagger =
      t.watcherSettle = t.rtnPauseBefore = t.rtnPauseAfter = t.resetDelayUnit = Millis{0};
  t.firstByteTimeout = Millis{2000};  // a real phone answers at once; a fuzzed one never waits
  context.ownExecutablePath = "";
  context.metaDataResults = verdicts;
  context.line = std::move(line);
  return context;
}

}  // namespace mirk3::fuzz
