// The window's pictures by role, drawn by this project (images/draw_pictures.cpp) and compiled
// into the program: the banner, the five states of a large slot, the time background, a port
// present or empty, and the program's icon.
#pragma once

#include <QIcon>
#include <QPixmap>

#include "station/station.h"

namespace mirk3 {

enum class PictureRole {
  Banner,
  SlotIdle,
  SlotProgress,
  SlotPass,
  SlotFail,
  SlotReset,
  TimeBackground,
  PortPresent,
  PortEmpty,
};

QPixmap Picture(PictureRole role);
// The picture of a large slot in the given state.
QPixmap SlotPicturePixmap(SlotPicture picture);
QIcon ProgramIcon();

}  // namespace mirk3
