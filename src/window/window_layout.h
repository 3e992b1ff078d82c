// Where the window's controls sit, in pixels of a 96-dpi screen (Qt scales them on others), and
// the numbers by which tests and tools find them: every control's object name is "id<number>",
// the number the station has always given it.
#pragma once

#include <QRect>
#include <QString>

namespace mirk3 {

// The whole window, small slots included; it opens at 66 % of this width.
inline constexpr int WINDOW_WIDTH = 1330;
inline constexpr int WINDOW_HEIGHT = 604;
inline constexpr int LARGE_SLOTS = 8;

// Control numbers of the slot displays: base + slot.
inline constexpr int ID_SLOT_PICTURE = 1054;  // large slots only
inline constexpr int ID_SLOT_STATUS = 1062;   // large slots only
inline constexpr int ID_PROGRESS = 1100;
inline constexpr int ID_TIME_PICTURE = 1200;
inline constexpr int ID_PORT_PICTURE = 1300;
inline constexpr int ID_TIME_TEXT = 1400;
inline constexpr int ID_PORT_LABEL = 1500;

// Other controls the station has no enable state for.
inline constexpr int ID_LOG = 1027;
inline constexpr int ID_PATH_AP = 1042;
inline constexpr int ID_PATH_CP = 1043;
inline constexpr int ID_PATH_CSC = 1044;
inline constexpr int ID_PATH_BL = 1045;
inline constexpr int ID_PATH_UMS = 1049;
inline constexpr int ID_PATH_PIT = 1041;
inline constexpr int ID_BANNER = 1053;
inline constexpr int ID_TITLE = 1072;
inline constexpr int ID_AUTO_START = 1073;
inline constexpr int ID_BINARY_SIZE = 1074;
inline constexpr int ID_TABS = 1075;
inline constexpr int ID_AUTO_START_LABEL = 1076;
inline constexpr int ID_HELP = 1077;

inline QString ControlName(int id) { return QStringLiteral("id%1").arg(id); }

// The rectangles of one slot's displays.
struct SlotRects {
  QRect picture;  // large slots: picture and status text
  QRect time;     // time picture and time text
  QRect progress;
  QRect port;  // port picture and label
};

inline SlotRects SlotRectsOf(int slot) {
  if (slot < LARGE_SLOTS) {
    const int x = 21 + 105 * slot;
    return {QRect(x, 95, 103, 65), QRect(x, 165, 103, 23), QRect(x, 165, 103, 21),
            QRect(x, 209, 103, 23)};
  }
  static constexpr int ROW_TOPS[12] = {13, 62, 111, 159, 208, 257, 306, 354, 403, 452, 501, 549};
  const int column = (slot - LARGE_SLOTS) / 12;
  const int row = (slot - LARGE_SLOTS) % 12;
  const int x = 878 + 111 * column;
  const int y = ROW_TOPS[row];
  // A small slot's bar lies where its time appears after a pass, as on a large slot.
  return {QRect(), QRect(x, y, 103, 23), QRect(x, y + 1, 103, 21), QRect(x, y + 23, 103, 23)};
}

// Mass D/L: the narrow window is 66 % of the wide one; both ways round down.
inline int NarrowWidth(int width) { return width * 66 / 100; }
inline int WideWidth(int width) { return width * 100 / 66; }

}  // namespace mirk3
