// The station window as tests and the screenshot program drive it: offscreen, with a settings
// file of its own, quick timings, emulated phones on a port dir it watches, real signed
// packages, and operator dialogs that are answered rather than shown.
#pragma once

#include <QApplication>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "devsim/phone_farm.h"
#include "support/station_harness.h"
#include "support/temp_dir.h"
#include "support/test_packages.h"
#include "window/station_window.h"
#include "window/window_layout.h"

namespace mirk3::test {

// Answers every dialog at once: warnings are kept, questions get `answer`, file dialogs get the
// next of `files` (cancelled when there is none). `onWarn` sees each warning as it comes.
class RecordingDialogs : public OperatorDialogs {
 public:
  struct Box {
    QString title;
    QString text;
  };

  void Warn(QWidget* parent, const QString& title, const QString& text) override;
  bool Ask(QWidget* parent, const QString& title, const QString& text) override;
  QString OpenFile(QWidget* parent, const QString& caption, const QString& filter) override;

  std::vector<Box> warnings;
  std::vector<Box> questions;
  std::vector<QString> filters;  // of each file dialog opened
  std::deque<QString> files;
  bool answer = false;
  std::function<void(QWidget* parent, const Box& box)> onWarn;
};

// The process's QApplication, on the offscreen platform unless QT_QPA_PLATFORM names another.
// Made in main() and destroyed before the process exits, as Qt wants it.
std::unique_ptr<QApplication> MakeWidgetApplication(int& argc, char** argv);

// Handles events until `done` or `limit` has passed; whether `done` came true.
bool WaitFor(const std::function<bool()>& done,
             std::chrono::milliseconds limit = std::chrono::seconds(60));

inline constexpr char WINDOW_TEST_MODEL[] = "MIRK3-DEMO_EUR";

class WindowRig {
 public:
  // `iniExtra` adds lines to the [Option] section of the rig's Mirk3.ini.
  explicit WindowRig(const std::string& iniExtra = "", Timing timing = QuickTiming());
  ~WindowRig();

  // Emulated phones on the watched port dir; waits until the window has given each a slot.
  bool PlugPhones(devsim::FarmConfig config);
  devsim::FarmConfig Farm(const std::vector<int>& ports) const;
  // A signed package of `members` in the rig's dir.
  std::string Package(const std::string& name, const std::vector<TarEntry>& members) const;

  StationWindow& Window() { return *window_; }
  Station& Core() { return window_->Core(); }
  template <typename Widget>
  Widget* Find(int id) const {
    return window_->findChild<Widget*>(ControlName(id));
  }

  TempDir dir;
  RecordingDialogs dialogs;
  std::unique_ptr<devsim::PhoneFarm> farm;

 private:
  std::unique_ptr<StationWindow> window_;
};

}  // namespace mirk3::test
