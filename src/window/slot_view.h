// The displays of one slot: for a large slot its picture with the status text, and for every
// slot the time picture with the elapsed time, the progress bar, and the port picture with the
// port label. Drawn from the station's SlotDisplay.
#pragma once

#include <QLabel>
#include <QProgressBar>

#include "station/station.h"

namespace mirk3 {

class SlotView {
 public:
  SlotView(QWidget* parent, int slot);
  void Show(const SlotDisplay& display);

 private:
  QLabel* picture_ = nullptr;  // large slots only
  QLabel* status_ = nullptr;
  QLabel* timePicture_;
  QLabel* timeText_;
  QProgressBar* progress_;
  QLabel* portPicture_;
  QLabel* portLabel_;
};

}  // namespace mirk3
