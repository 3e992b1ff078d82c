#include "window/slot_view.h"

#include "window/pictures.h"
#include "window/window_layout.h"

namespace mirk3 {
namespace {

QLabel* NewLabel(QWidget* parent, int id, const QRect& rect) {
  auto* label = new QLabel(parent);
  label->setObjectName(ControlName(id));
  label->setGeometry(rect);
  label->setAlignment(Qt::AlignCenter);
  return label;
}

QFont SlotFont(const QString& family, int pixels, bool bold) {
  QFont font;
  // The station's own faces first; the desktop's sans face where they are missing.
  font.setFamilies({family, QStringLiteral("DejaVu Sans Condensed"), QStringLiteral("Sans Serif")});
  font.setPixelSize(pixels);
  font.setBold(bold);
  // "55:[ttyACM55]" has to fit the 103 pixels of a slot.
  font.setStretch(QFont::SemiCondensed);
  return font;
}

}  // namespace

SlotView::SlotView(QWidget* parent, int slot) {
  const SlotRects rects = SlotRectsOf(slot);
  if (slot < LARGE_SLOTS) {
    picture_ = NewLabel(parent, ID_SLOT_PICTURE + slot, rects.picture);
    picture_->setScaledContents(true);
    status_ = NewLabel(parent, ID_SLOT_STATUS + slot, rects.picture);
    status_->setFont(SlotFont(QStringLiteral("Tahoma"), 18, true));
    status_->setWordWrap(true);
  }
  timePicture_ = NewLabel(parent, ID_TIME_PICTURE + slot, rects.time);
  timePicture_->setPixmap(Picture(PictureRole::TimeBackground));
  timePicture_->setScaledContents(true);
  progress_ = new QProgressBar(parent);
  progress_->setObjectName(ControlName(ID_PROGRESS + slot));
  progress_->setGeometry(rects.progress);
  progress_->setRange(0, 100);
  progress_->setTextVisible(false);
  portPicture_ = NewLabel(parent, ID_PORT_PICTURE + slot, rects.port);
  portPicture_->setScaledContents(true);
  const QFont small = SlotFont(QStringLiteral("MS Shell Dlg"), 14, false);
  timeText_ = NewLabel(parent, ID_TIME_TEXT + slot, rects.time);
  timeText_->setFont(small);
  portLabel_ = NewLabel(parent, ID_PORT_LABEL + slot, rects.port);
  portLabel_->setFont(small);
  Show(SlotDisplay{});
}

void SlotView::Show(const SlotDisplay& d) {
  if (picture_) {
    picture_->setPixmap(SlotPicturePixmap(d.picture));
    status_->setText(QString::fromStdString(d.status));
  }
  timePicture_->setVisible(d.timeShown);
  timeText_->setText(QString::fromStdString(d.timeText));
  progress_->setValue(d.progress);
  progress_->setVisible(d.progressShown);
  portPicture_->setPixmap(
      Picture(d.portPresent ? PictureRole::PortPresent : PictureRole::PortEmpty));
  portLabel_->setText(QString::fromStdString(d.portLabel));
}

}  // namespace mirk3
