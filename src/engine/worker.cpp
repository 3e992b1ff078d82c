#include "engine/worker.h"

namespace mirk3 {

CWorkerThread::CWorkerThread(std::unique_ptr<CDownloadEngine> engine) : port_(engine->Port()) {
  thread_ = std::thread(&CWorkerThread::Run, this, std::move(engine));
}

CWorkerThread::~CWorkerThread() {
  if (!resumed_.load()) {
    // Never resumed: let the thread end without running its steps.
    released_.store(true);
    released_.notify_one();
  }
  Join();
}

void CWorkerThread::Resume() {
  resumed_.store(true);
  released_.store(true);
  released_.notify_one();
}

void CWorkerThread::Join() {
  if (thread_.joinable()) thread_.join();
}

void CWorkerThread::Run(std::unique_ptr<CDownloadEngine> engine) {
  released_.wait(false);
  int code = WORKER_FAILED;
  if (resumed_.load()) code = engine->RunSteps() ? WORKER_PASSED : WORKER_FAILED;
  engine.reset();  // closes the port if a failed step left it open
  exitCode_.store(code);
}

CWorkerRun::CWorkerRun(std::vector<std::unique_ptr<CDownloadEngine>> engines, ReportSink* sink,
                       const Timing& timing) {
  for (auto& engine : engines) {
    workers_.push_back(std::make_unique<CWorkerThread>(std::move(engine)));
  }
  watcher_ = std::thread(&CWorkerRun::Watch, this, sink, timing.watcherSettle);
  std::this_thread::sleep_for(timing.workerStartDelay);
  for (auto& worker : workers_) {
    worker->Resume();
    std::this_thread::sleep_for(timing.workerStagger);
  }
}

CWorkerRun::~CWorkerRun() {
  if (watcher_.joinable()) watcher_.join();
}

void CWorkerRun::Watch(ReportSink* sink, Millis settle) {
  // No limit on the number of workers: each is joined in turn.
  for (auto& worker : workers_) worker->Join();
  std::this_thread::sleep_for(settle);
  if (sink) sink->Send(WM_DL_COMPLETE, EngineReport{NO_PORT, "", 0});
}

int CWorkerRun::Passed() const {
  int n = 0;
  for (const auto& worker : workers_) n += worker->ExitCode() == WORKER_PASSED;
  return n;
}

int CWorkerRun::Failed() const {
  int n = 0;
  for (const auto& worker : workers_) n += worker->ExitCode() == WORKER_FAILED;
  return n;
}

}  // namespace mirk3
