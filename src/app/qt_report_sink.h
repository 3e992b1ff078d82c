// The report sink of the station on Qt: a worker's report is handed to the station's main
// thread as a blocking queued call, so it is handled there, in order, and the worker waits until
// it has been handled. A report sent on the main thread itself (the port table's status reports)
// is handled at once.
#pragma once

#include <QObject>
#include <functional>

#include "engine/engine_report.h"

namespace mirk3 {

class QtReportSink : public QObject, public ReportSink {
 public:
  using Handler = std::function<void(int message, const EngineReport& report)>;

  // The thread that makes the sink is the main thread its reports are handled on.
  explicit QtReportSink(Handler handler);
  void Send(int message, const EngineReport& report) override;

 private:
  Handler handler_;
};

}  // namespace mirk3
