// The station window: the Qt Widgets face of the station core. It draws the core's state (the
// 56 slots, package fields, option boxes, enable states, the size text, the log) and hands every
// operator action to the core: Start, Reset, picks, drops, check boxes, auto start. Nothing of
// the run control lives here; what is the window's own is its layout, the tab pages, Mass D/L,
// the keys, and asking before it closes on phones that are still being written.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabBar>
#include <array>
#include <memory>
#include <vector>

#include "station/qt_report_sink.h"
#include "station/station.h"
#include "station/station_view.h"
#include "window/operator_dialogs.h"
#include "window/slot_view.h"

namespace mirk3 {

// The window's caption and the version the About box shows.
inline constexpr double STATION_VERSION = 3.1203;
inline constexpr char APPLICATION_NAME[] = "Mirk3";

class StationWindow : public QDialog, public StationView {
  Q_OBJECT

 public:
  enum Page { LogPage = 0, OptionsPage = 1, PitPage = 2 };

  StationWindow(OperatorDialogs& dialogs, EngineContext context);
  ~StationWindow() override;

  Station& Core() { return *station_; }
  // The settings file: the title line, then the core's options and enables.
  void ApplySettings(const Settings& settings, const std::string& portDir);

  // --- StationView
  void AppendLog(const std::string& line) override;
  void ClearLog() override;
  void SlotChanged(int slot) override;
  void ControlsChanged() override;
  void ShowMessage(const std::string& text, const std::string& title) override;

  // The ports of the run in progress that are still being written ("ttyACM3, ttyACM5").
  QString PortsBeingWritten() const;
  void ShowAbout();

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  // Every way of closing (close box, Exit, Ctrl+E, Enter) ends here.
  void done(int result) override;

 private:
  struct PackageRow {
    QPushButton* button;
    QCheckBox* use;
    QLineEdit* path;
  };
  struct OptionBox {
    ControlId id;
    QCheckBox* box;
    int32_t RunFlags::*state;
  };

  void BuildHeader();
  void BuildPackageRows();
  void BuildRunButtons();
  void BuildPages();
  void BuildOptionBoxes();
  void BuildKeys();
  void PickPackage(int slot);
  void PickPit();
  void OnTabChanged(int index);
  void ShowPage(int index);
  void ToggleMassDownload();

  OperatorDialogs& dialogs_;
  std::unique_ptr<QtReportSink> sink_;
  std::unique_ptr<Station> station_;
  QLabel* title_ = nullptr;
  std::vector<SlotView> slots_;
  std::array<PackageRow, SLOT_COUNT> rows_{};
  QPushButton* pitButton_ = nullptr;
  QLineEdit* pitPath_ = nullptr;
  std::vector<OptionBox> options_;
  QLabel* autoStartLabel_ = nullptr;
  QComboBox* autoStart_ = nullptr;
  QLineEdit* binarySize_ = nullptr;
  QTabBar* tabs_ = nullptr;
  QPlainTextEdit* log_ = nullptr;
  QPushButton* start_ = nullptr;
  QPushButton* reset_ = nullptr;
  QPushButton* exit_ = nullptr;
  QPushButton* massDownload_ = nullptr;
  bool rtnOffered_ = false;
};

}  // namespace mirk3
