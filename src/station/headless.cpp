#include "station/headless.h"

#include <QEventLoop>

#include "packages/meta_data_key.h"

namespace mirk3 {

std::unique_ptr<QCoreApplication> EnsureCoreApplication() {
  if (QCoreApplication::instance()) return nullptr;
  static int argc = 1;
  static char name[] = "mirk3-cli";
  static char* argv[] = {name, nullptr};
  return std::make_unique<QCoreApplication>(argc, argv);
}

bool ChooseInStation(Station& station, const DownloadOptions& chosen) {
  bool allTaken = true;
  for (int slot = 0; slot < SLOT_COUNT; ++slot) {
    if (chosen.slotEnabled[slot]) {
      allTaken = station.PickPackage(slot, chosen.slotPath[slot]) && allTaken;
    }
  }
  if (!chosen.pitPath.empty()) station.PickPit(chosen.pitPath);
  station.Options() = chosen.Flags();
  station.SetRunNumbers(chosen.FactoryResetTime, chosen.PacketSize);
  station.OptionsChanged();
  return allTaken;
}

void WaitForRunEnd(Station& station) {
  if (!station.Busy()) return;
  QEventLoop loop;
  QObject::connect(&station, &Station::becameIdle, &loop, &QEventLoop::quit);
  loop.exec();
}

bool LoadMetaKey(const std::string& keyFile, EngineContext& context, std::ostream& err,
                 const std::string& who) {
  if (keyFile.empty()) return true;
  std::string error;
  if (LoadMetaDataKeyFile(keyFile, context.metaDataKey, error)) return true;
  err << who << ": " << error << "\n";
  return false;
}

}  // namespace mirk3
