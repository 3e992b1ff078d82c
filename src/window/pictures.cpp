#include "window/pictures.h"

// The pictures live in a static library: its resources are registered by hand, once.
static void RegisterPictures() { Q_INIT_RESOURCE(pictures); }

namespace mirk3 {
namespace {

const char* ResourceOf(PictureRole role) {
  switch (role) {
    case PictureRole::Banner:
      return ":/mirk3/banner.png";
    case PictureRole::SlotIdle:
      return ":/mirk3/slot_idle.png";
    case PictureRole::SlotProgress:
      return ":/mirk3/slot_progress.png";
    case PictureRole::SlotPass:
      return ":/mirk3/slot_pass.png";
    case PictureRole::SlotFail:
      return ":/mirk3/slot_fail.png";
    case PictureRole::SlotReset:
      return ":/mirk3/slot_reset.png";
    case PictureRole::TimeBackground:
      return ":/mirk3/time_background.png";
    case PictureRole::PortPresent:
      return ":/mirk3/port_present.png";
    case PictureRole::PortEmpty:
      return ":/mirk3/port_empty.png";
  }
  return "";
}

void EnsureRegistered() {
  static const bool registered = (RegisterPictures(), true);
  (void)registered;
}

}  // namespace

QPixmap Picture(PictureRole role) {
  EnsureRegistered();
  return QPixmap(QString::fromLatin1(ResourceOf(role)));
}

QPixmap SlotPicturePixmap(SlotPicture picture) {
  switch (picture) {
    case SlotPicture::Idle:
      return Picture(PictureRole::SlotIdle);
    case SlotPicture::InProgress:
      return Picture(PictureRole::SlotProgress);
    case SlotPicture::Pass:
      return Picture(PictureRole::SlotPass);
    case SlotPicture::Fail:
      return Picture(PictureRole::SlotFail);
    case SlotPicture::Reset:
      return Picture(PictureRole::SlotReset);
  }
  return {};
}

QIcon ProgramIcon() {
  EnsureRegistered();
  return QIcon(QStringLiteral(":/mirk3/mirk3.png"));
}

}  // namespace mirk3
