// Pictures of the real window for the eye: idle and narrow with phones in their slots, widened
// in the middle of a run on fourteen emulated phones (some still being written, some passed,
// one failed), the Options page, the Pit warning and the Pit page. Written as PNG files to the
// directory given on the command line.
//
//   QT_QPA_PLATFORM=offscreen build/bin/mirk3-window-screenshots build/screenshots
#include <unistd.h>

#include <QMessageBox>
#include <QPushButton>
#include <QTabBar>
#include <cstdio>
#include <filesystem>

#include "window_support/window_rig.h"

namespace mirk3 {
namespace {

bool Save(QWidget& widget, const std::string& dir, const char* name) {
  const std::string path = dir + "/" + name + ".png";
  if (widget.grab().save(QString::fromStdString(path))) {
    std::printf("%s\n", path.c_str());
    return true;
  }
  std::fprintf(stderr, "cannot write %s\n", path.c_str());
  return false;
}

// The package every phone gets: four members, so that a phone that stops answering after a
// given member shows where it stopped on its bar.
std::vector<test::TarEntry> Members() {
  return {{"boot.img", test::TestBytes(200000, 1)},
          {"recovery.img", test::TestBytes(400000, 2)},
          {"system.img", test::TestBytes(600000, 3)},
          {"vendor.img", test::TestBytes(800000, 4)}};
}

// Requests a phone answers before it falls silent: the greeting and set-up take eleven, each
// member three (begin, size, end), so 11 + 3k + 2 leaves it waiting for the end of member k.
int SilentAfterMember(int member) { return 11 + 3 * member + 2; }

int DrawScreenshots(const std::string& out) {
  test::WindowRig rig("DeviceInfo=1\nRtnForSprint=1\n");
  StationWindow& window = rig.Window();
  Station& core = rig.Core();
  bool ok = true;

  devsim::FarmConfig farm = rig.Farm({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13});
  farm.faults[1].silentAfter = SilentAfterMember(0);
  farm.faults[5].silentAfter = SilentAfterMember(1);
  farm.faults[6].silentAfter = SilentAfterMember(2);
  farm.faults[9].silentAfter = SilentAfterMember(1);
  farm.faults[12].silentAfter = SilentAfterMember(2);
  const std::vector<int> silent = {1, 5, 6, 9, 12};
  // Refused at the end of the first member, long before any phone can pass: its failure clears
  // no time of a pass.
  farm.faults[3].fails.push_back({102, 3, BL_FAIL_WRITE, 0});
  const std::string package = rig.Package("AP_M3DEMO_XXU1AUA1.tar", Members());
  core.PickPackage(AP, package);
  if (!rig.PlugPhones(farm)) {
    std::fprintf(stderr, "the emulated phones did not come up\n");
    return 1;
  }
  ok &= Save(window, out, "1-idle-narrow");

  window.findChild<QPushButton*>(ControlName(CONTROL_MASS_DL))->click();
  core.Start();
  const bool settled = test::WaitFor([&] {
    int done = 0, stalled = 0;
    for (const auto& [port, run] : core.PortRuns()) {
      if (run.verdict == Verdict::Passed || run.verdict == Verdict::Failed) ++done;
      if (run.verdict == Verdict::Running &&
          std::find(silent.begin(), silent.end(), port) != silent.end() && run.sent > 0) {
        ++stalled;
      }
    }
    return done == 9 && stalled == static_cast<int>(silent.size());
  });
  if (!settled) std::fprintf(stderr, "the run did not reach the picture's state; taken as is\n");
  test::WaitFor([] { return false; }, std::chrono::milliseconds(300));
  ok &= Save(window, out, "2-wide-mid-run");

  auto* tabs = window.findChild<QTabBar*>(ControlName(ID_TABS));
  tabs->setCurrentIndex(StationWindow::OptionsPage);
  ok &= Save(window, out, "3-options-page");

  // The warning box as the operator sees it, then the page it guards.
  rig.dialogs.onWarn = [&](QWidget* parent, const test::RecordingDialogs::Box& box) {
    QMessageBox shown(QMessageBox::Warning, box.title, box.text, QMessageBox::Ok, parent);
    shown.show();
    test::WaitFor([] { return false; }, std::chrono::milliseconds(100));
    ok &= Save(shown, out, "4-pit-warning");
  };
  tabs->setCurrentIndex(StationWindow::PitPage);
  ok &= Save(window, out, "5-pit-page");
  std::fflush(nullptr);
  // Five phones are still waited for: the workers are left behind, as a window closed mid-run
  // leaves them.
  ::_exit(ok ? 0 : 1);
}

}  // namespace
}  // namespace mirk3

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: mirk3-window-screenshots DIR\n");
    return 2;
  }
  const std::string out = argv[1];
  std::filesystem::create_directories(out);
  const auto application = mirk3::test::MakeWidgetApplication(argc, argv);
  return mirk3::DrawScreenshots(out);
}
