#include "app/qt_report_sink.h"

#include <QMetaObject>
#include <QThread>

namespace mirk3 {

QtReportSink::QtReportSink(Handler handler) : handler_(std::move(handler)) {}

void QtReportSink::Send(int message, const EngineReport& report) {
  if (QThread::currentThread() == thread()) {
    handler_(message, report);
    return;
  }
  QMetaObject::invokeMethod(
      this, [this, message, &report] { handler_(message, report); },
      Qt::BlockingQueuedConnection);
}

}  // namespace mirk3
