#include "window/station_window.h"

#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QScrollBar>
#include <QShortcut>

#include "serial/serial_line.h"
#include "window/package_filters.h"
#include "window/pictures.h"
#include "window/window_layout.h"

namespace mirk3 {
namespace {

constexpr char HELP_TEXT[] =
    "OLD model  : Download one binary    \"(BUILD_VER)_XXX_HOME.tar.md5\"\n"
    "         ex) BUILD_VER_M3DEMOXXU1AUA1_HOME.tar.md5\n"
    "NEW model : Download BL + AP + CP + HOME_CSC";

constexpr char PIT_WARNING[] =
    "The Pit page is meant for engineers.\n"
    "A partition table picked here re-partitions the phone: the device is changed according "
    "to the CSC file.";

// Package rows from the top, in the order the operator reads them.
constexpr int ROW_ORDER[SLOT_COUNT] = {BL, AP, CP, CSC, UMS};
constexpr int PATH_IDS[SLOT_COUNT] = {ID_PATH_BL, ID_PATH_AP, ID_PATH_CP, ID_PATH_CSC, ID_PATH_UMS};

template <typename Widget>
Widget* Place(Widget* widget, int id, const QRect& rect) {
  widget->setObjectName(ControlName(id));
  widget->setGeometry(rect);
  return widget;
}

bool IsEnter(const QKeyEvent* event) {
  return event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
}

}  // namespace

StationWindow::StationWindow(OperatorDialogs& dialogs, EngineContext context) : dialogs_(dialogs) {
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  setWindowTitle(QString::asprintf("Mirk3 v%.2f", STATION_VERSION));
  setWindowIcon(ProgramIcon());
  sink_ = std::make_unique<QtReportSink>(
      [this](const PortEvent& event) { station_->HandleEvent(event); });
  station_ = std::make_unique<Station>(this, sink_.get(), std::move(context));
  BuildHeader();
  slots_.reserve(DISPLAYED_SLOTS);
  for (int slot = 0; slot < DISPLAYED_SLOTS; ++slot) slots_.emplace_back(this, slot);
  BuildPackageRows();
  BuildRunButtons();
  BuildPages();
  BuildKeys();
  setAcceptDrops(true);
  // The window opens narrow: the small slots are beyond its right edge until Mass D/L.
  setFixedSize(NarrowWidth(WINDOW_WIDTH), WINDOW_HEIGHT);
  ShowPage(LogPage);
  ControlsChanged();
  rows_[BL].button->setFocus();
}

StationWindow::~StationWindow() {
  // The core goes before the widgets it reports into.
  station_.reset();
}

void StationWindow::BuildHeader() {
  auto* banner = Place(new QLabel(this), ID_BANNER, QRect(12, 12, 856, 72));
  banner->setPixmap(Picture(PictureRole::Banner));
  title_ = Place(new QLabel(this), ID_TITLE, QRect(80, 25, 300, 50));
  QFont font = title_->font();
  font.setPixelSize(20);
  font.setBold(true);
  title_->setFont(font);
  title_->setStyleSheet(QStringLiteral("color: white; background: transparent;"));
  title_->setText(QString::fromLatin1(DEFAULT_TITLE));
}

void StationWindow::BuildPackageRows() {
  for (int i = 0; i < SLOT_COUNT; ++i) {
    const int slot = ROW_ORDER[i];
    const int y = 244 + 30 * i;
    PackageRow& row = rows_[slot];
    row.button = Place(new QPushButton(QString::fromLatin1(SLOT_NAMES[slot]), this),
                       PACKAGE_BUTTONS[slot], QRect(12, y, 64, 26));
    row.use = Place(new QCheckBox(this), PACKAGE_BOXES[slot], QRect(84, y + 4, 18, 18));
    row.path = Place(new QLineEdit(this), PATH_IDS[slot], QRect(106, y, 334, 26));
    row.path->setReadOnly(true);
    connect(row.button, &QPushButton::clicked, this, [this, slot] { PickPackage(slot); });
    connect(row.use, &QCheckBox::toggled, this,
            [this, slot](bool on) { station_->SetPackageUsed(slot, on); });
  }
  auto* sizeLabel = new QLabel(QStringLiteral("Binary size"), this);
  sizeLabel->setGeometry(12, 396, 88, 24);
  binarySize_ = Place(new QLineEdit(this), ID_BINARY_SIZE, QRect(106, 396, 110, 24));
  binarySize_->setReadOnly(true);
  auto* tips = new QGroupBox(QStringLiteral("Tips - How to download HOME binary"), this);
  tips->setGeometry(12, 428, 428, 92);
  auto* help =
      Place(new QLabel(QString::fromUtf8(HELP_TEXT), tips), ID_HELP, QRect(10, 24, 412, 62));
  help->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  QFont helpFont = help->font();
  helpFont.setPixelSize(12);
  helpFont.setStretch(QFont::SemiCondensed);
  help->setFont(helpFont);
}

void StationWindow::BuildRunButtons() {
  start_ =
      Place(new QPushButton(QStringLiteral("Start"), this), CONTROL_START, QRect(12, 534, 100, 40));
  reset_ = Place(new QPushButton(QStringLiteral("Reset"), this), CONTROL_RESET,
                 QRect(120, 534, 100, 40));
  exit_ =
      Place(new QPushButton(QStringLiteral("Exit"), this), CONTROL_EXIT, QRect(228, 534, 100, 40));
  massDownload_ = Place(new QPushButton(QString::fromUtf8("Mass D/L ▶"), this), CONTROL_MASS_DL,
                        QRect(336, 534, 104, 40));
  QFont bold = start_->font();
  bold.setBold(true);
  start_->setFont(bold);
  connect(start_, &QPushButton::clicked, this, [this] { station_->Start(); });
  connect(reset_, &QPushButton::clicked, this, [this] { station_->Reset(); });
  connect(exit_, &QPushButton::clicked, this, &QWidget::close);
  connect(massDownload_, &QPushButton::clicked, this, &StationWindow::ToggleMassDownload);
}

void StationWindow::BuildPages() {
  tabs_ = Place(new QTabBar(this), ID_TABS, QRect(452, 240, 416, 28));
  tabs_->addTab(QStringLiteral("Log"));
  tabs_->addTab(QStringLiteral("Options"));
  tabs_->addTab(QStringLiteral("Pit"));
  tabs_->setExpanding(false);
  log_ = Place(new QPlainTextEdit(this), ID_LOG, QRect(452, 268, 416, 306));
  log_->setReadOnly(true);
  log_->setLineWrapMode(QPlainTextEdit::NoWrap);
  QFont fixed(QStringLiteral("DejaVu Sans Mono"));
  fixed.setPixelSize(11);
  log_->setFont(fixed);
  BuildOptionBoxes();
  pitButton_ = Place(new QPushButton(QStringLiteral("PIT"), this), CONTROL_PICK_PIT,
                     QRect(464, 284, 64, 26));
  pitPath_ = Place(new QLineEdit(this), ID_PATH_PIT, QRect(536, 284, 320, 26));
  pitPath_->setReadOnly(true);
  connect(pitButton_, &QPushButton::clicked, this, &StationWindow::PickPit);
  connect(tabs_, &QTabBar::currentChanged, this, &StationWindow::OnTabChanged);
}

void StationWindow::BuildOptionBoxes() {
  struct Item {
    ControlId id;
    const char* label;
    int32_t RunFlags::*state;
  };
  static constexpr Item ITEMS[] = {
      {CONTROL_REPARTITION, "Re-Partition", &RunFlags::RePartition},
      {CONTROL_AUTO_REBOOT, "Auto Reboot", &RunFlags::AutoReboot},
      {CONTROL_F_RESET_TIME, "F. Reset Time", &RunFlags::FResetTime},
      {CONTROL_FLASH_LOCK, "Flash Lock", &RunFlags::FlashLock},
      {CONTROL_NAND_ERASE, "Nand Erase All", &RunFlags::NandErase},
      {CONTROL_T_FLASH, "T Flash", &RunFlags::TFlash},
      {CONTROL_EFS_CLEAR, "Phone EFS Clear", &RunFlags::PhoneEFSClear},
      {CONTROL_BOOT_UPDATE, "Phone Bootloader Update", &RunFlags::PhoneBootUpdate},
      {CONTROL_DEVICE_INFO, "Device Info", &RunFlags::deviceInfo},
      {CONTROL_RTN_FOR_SPRINT, "RTN for Sprint", &RunFlags::rtnForSprint},
  };
  int index = 0;
  for (const Item& item : ITEMS) {
    const QRect rect(468 + 200 * (index / 6), 284 + 32 * (index % 6), 196, 26);
    auto* box = Place(new QCheckBox(QString::fromLatin1(item.label), this), item.id, rect);
    options_.push_back({item.id, box, item.state});
    connect(box, &QCheckBox::toggled, this, [this, state = item.state](bool on) {
      station_->Options().*state = on ? 1 : 0;
      station_->OptionsChanged();
    });
    ++index;
  }
  autoStartLabel_ = Place(new QLabel(QStringLiteral("Auto start with ports"), this),
                          ID_AUTO_START_LABEL, QRect(468, 488, 170, 26));
  autoStart_ = Place(new QComboBox(this), ID_AUTO_START, QRect(640, 488, 64, 26));
  autoStart_->addItem(QStringLiteral("-"));
  for (int n = 1; n <= 8; ++n) autoStart_->addItem(QString::number(n));
  connect(autoStart_, &QComboBox::currentTextChanged, this,
          [this](const QString& text) { station_->SetAutoStart(text.toStdString()); });
}

void StationWindow::BuildKeys() {
  const auto bind = [this](const char* keys, auto action) {
    auto* shortcut = new QShortcut(QKeySequence(QString::fromLatin1(keys)), this);
    connect(shortcut, &QShortcut::activated, this, action);
  };
  bind("Alt+S", [this] { PickPackage(BL); });
  bind("Alt+P", [this] { PickPackage(AP); });
  bind("Alt+M", [this] { PickPackage(CP); });
  bind("Alt+C", [this] { PickPackage(CSC); });
  bind("Ctrl+S", [this] { station_->Start(); });
  bind("Ctrl+R", [this] { station_->Reset(); });
  bind("Ctrl+E", [this] { close(); });
  bind("F1", [this] { ShowAbout(); });
}

void StationWindow::ApplySettings(const Settings& settings, const std::string& portDir) {
  title_->setText(QString::fromStdString(settings.title));
  rtnOffered_ = settings.rtnForSprintEnable != 0;
  station_->ApplySettings(settings, portDir);
  ShowPage(tabs_->currentIndex());
}

void StationWindow::AppendLog(const std::string& line) {
  log_->appendPlainText(QString::fromStdString(line));
  log_->verticalScrollBar()->setValue(log_->verticalScrollBar()->maximum());
}

void StationWindow::ClearLog() { log_->clear(); }

void StationWindow::SlotChanged(int slot) {
  if (slot >= 0 && slot < static_cast<int>(slots_.size())) slots_[slot].Show(station_->Slot(slot));
}

void StationWindow::ControlsChanged() {
  // The core calls this while it is being made, before there is anything to draw.
  if (!station_ || !start_) return;
  const ControlEnables& enables = station_->Enables();
  const PackageFields& packages = station_->Packages();
  for (int slot = 0; slot < SLOT_COUNT; ++slot) {
    PackageRow& row = rows_[slot];
    const QSignalBlocker quiet(row.use);
    row.button->setEnabled(enables.Enabled(PACKAGE_BUTTONS[slot]));
    row.use->setEnabled(enables.Enabled(PACKAGE_BOXES[slot]));
    row.use->setChecked(packages.use[slot] != 0);
    row.path->setText(QString::fromStdString(packages.path[slot]));
  }
  pitPath_->setText(QString::fromStdString(packages.pitPath));
  pitButton_->setEnabled(enables.Enabled(CONTROL_PICK_PIT));
  for (OptionBox& option : options_) {
    const QSignalBlocker quiet(option.box);
    option.box->setEnabled(enables.Enabled(option.id));
    option.box->setChecked(station_->Options().*option.state != 0);
  }
  {
    const QSignalBlocker quiet(autoStart_);
    autoStart_->setCurrentText(QString::fromStdString(station_->AutoStart()));
  }
  binarySize_->setText(QString::fromStdString(station_->BinarySizeText()));
  start_->setEnabled(enables.Enabled(CONTROL_START));
  reset_->setEnabled(enables.Enabled(CONTROL_RESET));
  exit_->setEnabled(enables.Enabled(CONTROL_EXIT));
  massDownload_->setEnabled(enables.Enabled(CONTROL_MASS_DL));
}

void StationWindow::ShowMessage(const std::string& text, const std::string& title) {
  dialogs_.Warn(this, QString::fromStdString(title), QString::fromStdString(text));
}

void StationWindow::PickPackage(int slot) {
  // An accelerator reaches a picker whose button cannot be used: no dialog then.
  if (station_->Busy() || !station_->Enables().Enabled(PACKAGE_BUTTONS[slot])) return;
  const QString path = dialogs_.OpenFile(this, QString::fromLatin1(SLOT_NAMES[slot]),
                                         QString::fromLatin1(PACKAGE_FILTERS[slot]));
  if (path.isEmpty()) return;
  station_->PickPackage(slot, path.toStdString());
}

void StationWindow::PickPit() {
  const QString path =
      dialogs_.OpenFile(this, QStringLiteral("PIT"), QString::fromLatin1(PIT_FILTER));
  if (path.isEmpty()) return;
  station_->PickPit(path.toStdString());
}

void StationWindow::OnTabChanged(int index) {
  if (index == PitPage) {
    dialogs_.Warn(this, QString::fromLatin1(APPLICATION_NAME), QString::fromUtf8(PIT_WARNING));
  }
  ShowPage(index);
}

void StationWindow::ShowPage(int index) {
  log_->setVisible(index == LogPage);
  for (OptionBox& option : options_) {
    const bool offered = option.id != CONTROL_RTN_FOR_SPRINT || rtnOffered_;
    option.box->setVisible(index == OptionsPage && offered);
  }
  autoStartLabel_->setVisible(index == OptionsPage);
  autoStart_->setVisible(index == OptionsPage);
  pitButton_->setVisible(index == PitPage);
  pitPath_->setVisible(index == PitPage);
}

void StationWindow::ToggleMassDownload() {
  // The button reads "◀" while the window is wide.
  if (massDownload_->text().size() < 4) {
    massDownload_->setText(QString::fromUtf8("Mass D/L ▶"));
    setFixedSize(NarrowWidth(width()), height());
  } else {
    massDownload_->setText(QString::fromUtf8("◀"));
    setFixedSize(WideWidth(width()), height());
  }
}

QString StationWindow::PortsBeingWritten() const {
  QStringList ports;
  for (const auto& [port, run] : station_->PortRuns()) {
    if (run.verdict == Verdict::Passed || run.verdict == Verdict::Failed) continue;
    ports << QString::fromStdString(PortName(port));
  }
  return ports.join(QStringLiteral(", "));
}

void StationWindow::ShowAbout() {
  QMessageBox::about(
      this, QStringLiteral("About Mirk3"),
      QString::asprintf("Mirk3 v%.2f\n\nThe firmware flashing station.", STATION_VERSION));
}

void StationWindow::keyPressEvent(QKeyEvent* event) {
  // Escape never closes the station.
  if (event->key() == Qt::Key_Escape) {
    event->accept();
    return;
  }
  // Enter that no push button took is the dialog's OK: the window closes.
  if (IsEnter(event)) {
    event->accept();
    accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

void StationWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void StationWindow::dropEvent(QDropEvent* event) {
  std::vector<std::string> paths;
  for (const QUrl& url : event->mimeData()->urls()) {
    if (url.isLocalFile()) paths.push_back(url.toLocalFile().toStdString());
  }
  event->acceptProposedAction();
  station_->DropFiles(paths);
}

void StationWindow::contextMenuEvent(QContextMenuEvent* event) {
  QMenu menu(this);
  menu.addAction(QStringLiteral("About Mirk3..."), this, &StationWindow::ShowAbout);
  menu.exec(event->globalPos());
}

void StationWindow::done(int result) {
  if (station_->Busy()) {
    const QString ports = PortsBeingWritten();
    const QString question =
        ports.isEmpty()
            ? QStringLiteral("A run is in progress.\nClose the window all the same?")
            : QStringLiteral(
                  "A run is in progress: %1 %2 still being written.\n"
                  "Close the window and leave %3 unfinished?")
                  .arg(ports, ports.contains(',') ? QStringLiteral("are") : QStringLiteral("is"),
                       ports.contains(',') ? QStringLiteral("them") : QStringLiteral("it"));
    if (!dialogs_.Ask(this, QString::fromLatin1(APPLICATION_NAME), question)) return;
  }
  QDialog::done(result);
}

}  // namespace mirk3
