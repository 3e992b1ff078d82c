// The threads of a run: one worker per port, created held at a start gate and resumed one by
// one, each running its engine's steps and keeping its exit code (0 passed, 1 failed); and
// one watcher that waits for every worker and then sends the single end-of-run report.
#pragma once

#include <atomic>
#include <exception>
#include <memory>
#include <thread>
#include <vector>

#include "base/timing.h"
#include "engine/download_engine.h"

namespace mirk3 {

inline constexpr int WORKER_PASSED = 0;
inline constexpr int WORKER_FAILED = 1;
inline constexpr int WORKER_RUNNING = -1;

class WorkerThread {
 public:
  // Takes the engine; the thread exists at once but waits until Resume.
  explicit WorkerThread(std::unique_ptr<CDownloadEngine> engine);
  ~WorkerThread();
  WorkerThread(const WorkerThread&) = delete;
  WorkerThread& operator=(const WorkerThread&) = delete;

  void Resume();
  void Join();
  int Port() const { return port_; }
  // WORKER_PASSED, WORKER_FAILED, or WORKER_RUNNING while the thread has not ended.
  int ExitCode() const { return exitCode_.load(); }

 private:
  void Run(std::unique_ptr<CDownloadEngine> engine);

  int port_;
  std::atomic<int> exitCode_{WORKER_RUNNING};
  std::atomic<bool> released_{false};
  std::atomic<bool> resumed_{false};
  std::thread thread_;
};

// The workers of one run and their watcher.
class WorkerRun {
 public:
  // Starts the watcher, waits, then resumes the workers in list order, staggered. Returns
  // once every worker has been resumed; the end-of-run report follows later, from the watcher.
  WorkerRun(std::vector<std::unique_ptr<CDownloadEngine>> engines, EngineObserver* observer,
            const Timing& timing);
  // Joins the watcher (and with it every worker).
  ~WorkerRun();
  WorkerRun(const WorkerRun&) = delete;
  WorkerRun& operator=(const WorkerRun&) = delete;

  const std::vector<std::unique_ptr<WorkerThread>>& Workers() const { return workers_; }
  // False when not even the watcher could be made: no worker runs and no end-of-run report
  // will come from this run; its owner reports the end itself.
  bool Watching() const { return watcher_.joinable(); }
  // True once the watcher's end-of-run report has been handled: joining it then waits for no
  // one, so the main thread may drop the run without blocking on a thread that waits for it.
  bool Reported() const { return reported_.load(); }
  int Passed() const;
  // Failed workers, and ports whose thread could not be made.
  int Failed() const;

 private:
  void Watch(EngineObserver* observer, Millis settle);
  void NotStarted(EngineObserver* observer, int port, const std::exception& error);

  std::vector<std::unique_ptr<WorkerThread>> workers_;
  int notStarted_ = 0;
  std::atomic<bool> listReady_{false};
  std::atomic<bool> reported_{false};
  std::thread watcher_;
};

}  // namespace mirk3
