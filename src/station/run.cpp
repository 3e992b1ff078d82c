#include "station/run.h"

#include <algorithm>

#include "packages/meta_data_results.h"

namespace mirk3 {

Run::Run(int number, const std::vector<Place>& places)
    : number_(number), startTick_(std::chrono::steady_clock::now()) {
  const auto utc = std::chrono::system_clock::now();
  for (const Place& place : places) {
    PortRun record;
    record.run = number;
    record.slot = place.slot;
    record.port = place.port;
    record.usbPath = place.usbPath;
    record.started = startTick_;
    record.startedUtc = utc;
    records_[place.port] = record;
  }
}

Run::~Run() { Release(); }

int Run::Start(const DownloadOptions& options, const EngineContext& context, EngineObserver* sink) {
  // The run's engines share one set of meta-data verdicts: the station's, or one made for this
  // run when the caller brings none.
  EngineContext runContext = context;
  if (!runContext.metaDataResults) runContext.metaDataResults = std::make_shared<MetaDataResults>();
  std::vector<std::unique_ptr<CDownloadEngine>> engines;
  std::vector<const PortRun*> bySlot;
  for (const auto& [port, record] : records_) bySlot.push_back(&record);
  std::sort(bySlot.begin(), bySlot.end(),
            [](const PortRun* a, const PortRun* b) { return a->slot < b->slot; });
  for (const PortRun* record : bySlot) {
    auto engine = std::make_unique<CDownloadEngine>(sink, record->port, runContext);
    engine->CopyOptions(options);
    engines.push_back(std::move(engine));
  }
  workers_ = std::make_unique<WorkerRun>(std::move(engines), sink, context.timing);
  // A port whose thread could not be made has been reported failed and is not waited for.
  started_ = remaining_ = static_cast<int>(workers_->Workers().size());
  // Without a watcher nothing runs, and the end of the run is reported here.
  if (!workers_->Watching() && sink) sink->Tell(PortEvent{NO_PORT, RunEnded{}});
  return started_;
}

PortRun* Run::RecordOf(int port) {
  const auto it = records_.find(port);
  return it == records_.end() ? nullptr : &it->second;
}

void Run::CountResults(int* succeeded, int* failed) const {
  *succeeded = workers_ ? workers_->Passed() : 0;
  *failed = workers_ ? workers_->Failed() : 0;
}

bool Run::Releasable() const {
  return !workers_ || !workers_->Watching() || workers_->Reported();
}

void Run::Release() { workers_.reset(); }

}  // namespace mirk3
