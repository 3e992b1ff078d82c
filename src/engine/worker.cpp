#include "engine/worker.h"

#include <exception>

#include "base/text.h"

namespace mirk3 {

WorkerThread::WorkerThread(std::unique_ptr<CDownloadEngine> engine) : port_(engine->Port()) {
  thread_ = std::thread(&WorkerThread::Run, this, std::move(engine));
}

WorkerThread::~WorkerThread() {
  if (!resumed_.load()) {
    // Never resumed: let the thread end without running its steps.
    released_.store(true);
    released_.notify_one();
  }
  Join();
}

void WorkerThread::Resume() {
  resumed_.store(true);
  released_.store(true);
  released_.notify_one();
}

void WorkerThread::Join() {
  if (thread_.joinable()) thread_.join();
}

void WorkerThread::Run(std::unique_ptr<CDownloadEngine> engine) {
  released_.wait(false);
  int code = WORKER_FAILED;
  try {
    if (resumed_.load()) code = engine->RunSteps() ? WORKER_PASSED : WORKER_FAILED;
  } catch (...) {
    // Out of memory even for the failure report: the phone still counts as failed, and the
    // other phones go on.
    code = WORKER_FAILED;
  }
  engine.reset();  // closes the port if a failed step left it open
  exitCode_.store(code);
}

WorkerRun::WorkerRun(std::vector<std::unique_ptr<CDownloadEngine>> engines, EngineObserver* observer,
                     const Timing& timing) {
  // The watcher exists before any worker: a run whose end could never be reported starts no
  // phone at all.
  try {
    watcher_ = std::thread(&WorkerRun::Watch, this, observer, timing.watcherSettle);
  } catch (const std::exception& error) {
    for (auto& engine : engines) NotStarted(observer, engine->Port(), error);
    return;
  }
  for (auto& engine : engines) {
    const int port = engine->Port();
    try {
      workers_.push_back(std::make_unique<WorkerThread>(std::move(engine)));
    } catch (const std::exception& error) {
      // The engine went with the thread that could not be made; the other phones go on.
      NotStarted(observer, port, error);
    }
  }
  listReady_.store(true);
  listReady_.notify_one();
  std::this_thread::sleep_for(timing.workerStartDelay);
  for (auto& worker : workers_) {
    worker->Resume();
    std::this_thread::sleep_for(timing.workerStagger);
  }
}

WorkerRun::~WorkerRun() {
  listReady_.store(true);
  listReady_.notify_one();
  if (watcher_.joinable()) watcher_.join();
}

void WorkerRun::NotStarted(EngineObserver* observer, int port, const std::exception& error) {
  ++notStarted_;
  if (!observer) return;
  const std::string why = Format("FAIL! No thread for this port: %s", error.what());
  observer->Tell(PortEvent{port, FailureShown{FAIL_OUT_OF_MEMORY, why}});
  observer->Tell(PortEvent{port, mirk3::Failed{FAIL_OUT_OF_MEMORY, why, "", LineError::None}});
}

void WorkerRun::Watch(EngineObserver* observer, Millis settle) {
  listReady_.wait(false);
  // No limit on the number of workers: each is joined in turn.
  for (auto& worker : workers_) worker->Join();
  std::this_thread::sleep_for(settle);
  if (observer) observer->Tell(PortEvent{NO_PORT, RunEnded{}});
  reported_.store(true);
}

int WorkerRun::Passed() const {
  int n = 0;
  for (const auto& worker : workers_) n += worker->ExitCode() == WORKER_PASSED;
  return n;
}

int WorkerRun::Failed() const {
  // A port that never got its thread did not pass: it counts as failed.
  int n = notStarted_;
  for (const auto& worker : workers_) n += worker->ExitCode() == WORKER_FAILED;
  return n;
}

}  // namespace mirk3
