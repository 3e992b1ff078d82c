// The real window, offscreen, against emulated phones: slots filled as phones arrive, a run
// started with Start drawn slot by slot (progress, PASS!, FAIL!, times), the log pane holding
// the core's lines, Mass D/L, the tab pages and their rules, the keys, drops, and the question
// asked before the window closes on ports still being written.
#include <gtest/gtest.h>

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLabel>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabBar>
#include <QTest>
#include <map>

#include "pack/md5_package.h"
#include "window_support/window_rig.h"

namespace mirk3 {
namespace {

using test::WaitFor;
using test::WindowRig;

std::vector<test::TarEntry> Members() {
  return {{"boot.img", test::TestBytes(150000, 1)},
          {"system.img", test::TestBytes(450000, 2)},
          {"vendor.img", test::TestBytes(300000, 3)}};
}

QString Text(WindowRig& rig, int id) {
  if (auto* label = rig.Find<QLabel>(id)) return label->text();
  if (auto* field = rig.Find<QLineEdit>(id)) return field->text();
  ADD_FAILURE() << "no control " << id;
  return {};
}

bool Visible(WindowRig& rig, int id) {
  QWidget* widget = rig.Window().findChild<QWidget*>(ControlName(id));
  return widget && widget->isVisible();
}

TEST(Window, SlotsFillAsPhonesArriveAndEmptyAsTheyGo) {
  WindowRig rig;
  ASSERT_TRUE(rig.PlugPhones(rig.Farm({3, 11, 12})));
  // Slots are given in order of the ports found; the label names slot and port.
  EXPECT_EQ(Text(rig, ID_PORT_LABEL + 0), "0:[ttyACM3]");
  EXPECT_EQ(Text(rig, ID_PORT_LABEL + 1), "1:[ttyACM11]");
  EXPECT_EQ(Text(rig, ID_PORT_LABEL + 2), "2:[ttyACM12]");
  EXPECT_EQ(Text(rig, ID_PORT_LABEL + 3), "");
  EXPECT_TRUE(rig.Window()
                  .findChild<QPlainTextEdit*>(ControlName(ID_LOG))
                  ->toPlainText()
                  .contains("<ID:1/011> Added!!"));

  ASSERT_TRUE(rig.farm->Unplug(11));
  ASSERT_TRUE(WaitFor([&] { return Text(rig, ID_PORT_LABEL + 1).isEmpty(); }));
  EXPECT_EQ(Text(rig, ID_PORT_LABEL + 2), "2:[ttyACM12]");
}

// Three phones, one of which refuses the end of the first member: each slot is read the moment
// its port's result is known, since a failure later clears every time on the window.
TEST(Window, ARunShowsProgressPassFailAndTimesInTheRightSlots) {
  WindowRig rig;
  devsim::FarmConfig farm = rig.Farm({0, 1, 2});
  farm.faults[1].fails.push_back({102, 3, BL_FAIL_WRITE, 0});
  ASSERT_TRUE(rig.PlugPhones(farm));
  rig.Core().PickPackage(AP, rig.Package("AP_X.tar", Members()));

  std::map<int, int> highest;  // slot -> highest bar value seen
  for (int slot = 0; slot < 3; ++slot) {
    QObject::connect(
        rig.Find<QProgressBar>(ID_PROGRESS + slot), &QProgressBar::valueChanged,
        [&highest, slot](int value) { highest[slot] = std::max(highest[slot], value); });
  }
  std::map<int, QString> statusAtEnd, timeAtEnd;
  std::map<int, bool> barShownAtEnd;
  QObject::connect(&rig.Core(), &Station::portFinished, [&](const PortRun& run) {
    statusAtEnd[run.slot] = Text(rig, ID_SLOT_STATUS + run.slot);
    timeAtEnd[run.slot] = Text(rig, ID_TIME_TEXT + run.slot);
    barShownAtEnd[run.slot] = Visible(rig, ID_PROGRESS + run.slot);
  });
  std::vector<std::string> coreLines;
  QObject::connect(&rig.Core(), &Station::logAppended,
                   [&](const std::string& line) { coreLines.push_back(line); });

  QTest::mouseClick(rig.Find<QPushButton>(CONTROL_START), Qt::LeftButton);
  ASSERT_TRUE(rig.Core().Busy());
  EXPECT_FALSE(rig.Find<QPushButton>(CONTROL_EXIT)->isEnabled());
  ASSERT_TRUE(WaitFor([&] { return !rig.Core().Busy(); }));

  for (int slot : {0, 2}) {
    EXPECT_EQ(statusAtEnd[slot], "PASS!") << slot;
    EXPECT_TRUE(QRegularExpression("^ \\d\\d:\\d\\d $").match(timeAtEnd[slot]).hasMatch())
        << timeAtEnd[slot].toStdString();
    EXPECT_FALSE(barShownAtEnd[slot]);
    EXPECT_EQ(highest[slot], 100) << slot;
  }
  EXPECT_EQ(statusAtEnd[1], "FAIL!");
  EXPECT_GT(highest[1], 0);
  EXPECT_LT(highest[1], 100);
  EXPECT_EQ(Text(rig, ID_SLOT_STATUS + 1), "FAIL!");
  EXPECT_TRUE(rig.Find<QPushButton>(CONTROL_EXIT)->isEnabled());

  // The pane shows exactly the core's lines, the summary last.
  const QStringList shown =
      rig.Window().findChild<QPlainTextEdit*>(ControlName(ID_LOG))->toPlainText().split('\n');
  ASSERT_FALSE(coreLines.empty());
  ASSERT_GE(shown.size(), static_cast<qsizetype>(coreLines.size()));
  const QStringList tail = shown.mid(shown.size() - static_cast<qsizetype>(coreLines.size()));
  for (size_t i = 0; i < coreLines.size(); ++i) {
    EXPECT_EQ(tail[static_cast<qsizetype>(i)].toStdString(), coreLines[i]);
  }
  EXPECT_EQ(coreLines.back(), "<OSM> All threads completed. (succeed 2 / failed 1)");
}

TEST(Window, MassDownloadWidensForTheSmallSlotsAndBack) {
  WindowRig rig;
  StationWindow& window = rig.Window();
  auto* button = rig.Find<QPushButton>(CONTROL_MASS_DL);
  const int narrow = window.width();
  const QRect lastSmallSlot = rig.Find<QLabel>(ID_PORT_LABEL + 55)->geometry();
  EXPECT_EQ(narrow, WINDOW_WIDTH * 66 / 100);
  EXPECT_LE(narrow, rig.Find<QLabel>(ID_PORT_LABEL + 8)->geometry().left());

  QTest::mouseClick(button, Qt::LeftButton);
  EXPECT_EQ(button->text(), QString::fromUtf8("◀"));
  EXPECT_GE(window.width(), lastSmallSlot.right());

  QTest::mouseClick(button, Qt::LeftButton);
  EXPECT_EQ(button->text(), QString::fromUtf8("Mass D/L ▶"));
  EXPECT_NEAR(window.width(), narrow, 1);
}

// The Pit page's controls appear only after its warning, every time it is chosen; the RTN box is
// offered on the Options page only when the settings say so.
TEST(Window, PagesShowTheirControlsByTheirRules) {
  for (const bool rtn : {false, true}) {
    WindowRig rig(rtn ? "RtnForSprint=1\n" : "RtnForSprint=0\n");
    auto* tabs = rig.Window().findChild<QTabBar*>(ControlName(ID_TABS));
    std::vector<bool> pitShownAtWarning;
    rig.dialogs.onWarn = [&](QWidget*, const test::RecordingDialogs::Box&) {
      pitShownAtWarning.push_back(Visible(rig, CONTROL_PICK_PIT));
    };
    bool rtnEverShown = false;
    for (const int page : {1, 2, 0, 2, 1}) {
      tabs->setCurrentIndex(page);
      rtnEverShown = rtnEverShown || Visible(rig, CONTROL_RTN_FOR_SPRINT);
      EXPECT_EQ(Visible(rig, ID_LOG), page == 0);
      EXPECT_EQ(Visible(rig, CONTROL_PICK_PIT), page == 2);
      EXPECT_EQ(Visible(rig, CONTROL_FLASH_LOCK), page == 1);
      EXPECT_EQ(Visible(rig, ID_AUTO_START), page == 1);
    }
    EXPECT_EQ(pitShownAtWarning, std::vector<bool>({false, false}));
    EXPECT_EQ(rtnEverShown, rtn);
  }
}

TEST(Window, KeysPickAndStartEscapeKeepsTheWindowEnterAndCtrlEClose) {
  WindowRig rig;
  StationWindow& window = rig.Window();
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  // Ctrl+S with nothing chosen is Start refused with its box; Alt+P is the AP picker.
  QTest::keyClick(&window, Qt::Key_S, Qt::ControlModifier);
  ASSERT_EQ(rig.dialogs.warnings.size(), 1u);
  EXPECT_EQ(rig.dialogs.warnings[0].title, "Mirk 3");
  const std::string ap = rig.Package("AP_X.tar", Members());
  rig.dialogs.files.push_back(QString::fromStdString(ap));
  QTest::keyClick(&window, Qt::Key_P, Qt::AltModifier);
  ASSERT_EQ(rig.dialogs.filters.size(), 1u);
  EXPECT_EQ(rig.dialogs.filters[0], "AP File (*.tar *.md5 *.smd *.gz *.tgz)");
  EXPECT_EQ(Text(rig, ID_PATH_AP).toStdString(), ap);

  QTest::keyClick(&window, Qt::Key_Escape);
  EXPECT_TRUE(window.isVisible());

  // Enter on a push button presses it; anywhere else it is the dialog's OK.
  auto* massDownload = rig.Find<QPushButton>(CONTROL_MASS_DL);
  massDownload->setFocus();
  QTest::keyClick(massDownload, Qt::Key_Return);
  EXPECT_TRUE(window.isVisible());
  EXPECT_EQ(massDownload->text(), QString::fromUtf8("◀"));
  QLineEdit* path = rig.Find<QLineEdit>(ID_PATH_AP);
  path->setFocus();
  QTest::keyClick(path, Qt::Key_Return);
  EXPECT_FALSE(window.isVisible());

  window.show();
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  QTest::keyClick(&window, Qt::Key_E, Qt::ControlModifier);
  EXPECT_FALSE(window.isVisible());
}

TEST(Window, DroppedFilesFillTheFieldsTheirNamesChoose) {
  WindowRig rig;
  const std::string bl = rig.Package("BL_X.tar", Members());
  const std::string cp = rig.Package("CP_X.tar", Members());
  const std::string lower = rig.Package("bl_y.tar", Members());
  const std::string csc = rig.Package("HOME_CSC_X.tar", Members());
  const std::string spoiled = rig.Package("AP_X.tar", Members());
  std::string error;
  ASSERT_TRUE(pack::WriteMd5Package(csc, error)) << error;
  ASSERT_TRUE(pack::WriteMd5Package(spoiled, error)) << error;
  test::SpoilInPlace(spoiled + ".md5", 2000);
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(QString::fromStdString(bl)),
                QUrl::fromLocalFile(QString::fromStdString(cp)),
                QUrl::fromLocalFile(QString::fromStdString(lower)),
                QUrl::fromLocalFile(QString::fromStdString(spoiled + ".md5")),
                QUrl::fromLocalFile(QString::fromStdString(csc + ".md5"))});
  const QPoint at(200, 300);
  QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&rig.Window(), &enter);
  ASSERT_TRUE(enter.isAccepted());
  QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&rig.Window(), &drop);

  EXPECT_EQ(Text(rig, ID_PATH_BL).toStdString(), bl);
  EXPECT_EQ(Text(rig, ID_PATH_CP).toStdString(), cp);
  EXPECT_EQ(Text(rig, ID_PATH_CSC).toStdString(), csc + ".md5");
  EXPECT_EQ(Text(rig, ID_PATH_AP), "");
  EXPECT_TRUE(rig.Find<QCheckBox>(CONTROL_USE_BL)->isChecked());
  EXPECT_TRUE(rig.Find<QCheckBox>(CONTROL_USE_CSC)->isChecked());
  EXPECT_FALSE(rig.Find<QCheckBox>(CONTROL_USE_AP)->isChecked());
  // The spoiled package is refused with the operator's box, and the drop goes on past it.
  ASSERT_EQ(rig.dialogs.warnings.size(), 1u);
  EXPECT_EQ(rig.dialogs.warnings[0].text, "md5 error! Binary is invalid");
}

// Two phones fall silent in the middle of the run while a third passes: closing asks, naming
// the two, and a No keeps the window.
TEST(Window, ClosingDuringARunAsksNamingThePortsStillBeingWritten) {
  WindowRig rig;
  devsim::FarmConfig farm = rig.Farm({0, 2, 4});
  farm.faults[0].silentAfter = 13;
  farm.faults[4].silentAfter = 13;
  ASSERT_TRUE(rig.PlugPhones(farm));
  rig.Core().PickPackage(AP, rig.Package("AP_X.tar", Members()));
  ASSERT_TRUE(rig.Core().Start());
  ASSERT_TRUE(WaitFor([&] {
    const auto& runs = rig.Core().PortRuns();
    return runs.at(2).verdict == Verdict::Passed && runs.at(0).sent > 0 && runs.at(4).sent > 0;
  }));

  rig.dialogs.answer = false;
  rig.Window().close();
  EXPECT_TRUE(rig.Window().isVisible());
  ASSERT_EQ(rig.dialogs.questions.size(), 1u);
  const QString question = rig.dialogs.questions[0].text;
  EXPECT_TRUE(question.contains("ttyACM0, ttyACM4")) << question.toStdString();
  EXPECT_FALSE(question.contains("ttyACM2")) << question.toStdString();

  rig.dialogs.answer = true;
  rig.Window().close();
  EXPECT_FALSE(rig.Window().isVisible());
  // Their cables pulled, the two workers fail at once and the run ends.
  rig.farm->Unplug(0);
  rig.farm->Unplug(4);
  EXPECT_TRUE(WaitFor([&] { return !rig.Core().Busy(); }));
}

}  // namespace
}  // namespace mirk3
