#include "ports/port_slot_manager.h"

#include <algorithm>

#include "packages/meta_data_results.h"

namespace mirk3 {

CPortSlotManager::CPortSlotManager(ReportSink* sink)
    : sink_(sink),
      slotPorts_(SLOT_TABLE_SIZE, -1),
      reservedSlots_(SLOT_TABLE_SIZE, -1),
      slotTotals_(SLOT_TABLE_SIZE, 0) {}

CPortSlotManager::~CPortSlotManager() = default;

int CPortSlotManager::PlacePort(int port) {
  if (port < 0) return -1;
  const auto held = std::find(slotPorts_.begin(), slotPorts_.end(), port);
  if (held != slotPorts_.end()) return static_cast<int>(held - slotPorts_.begin());
  const auto reservation = std::find(reservedSlots_.begin(), reservedSlots_.end(), port);
  const int reserved = reservation == reservedSlots_.end()
                           ? -1
                           : static_cast<int>(reservation - reservedSlots_.begin());
  if (reserved >= 0) {
    if (slotPorts_[reserved] != -1) return -1;
    TakeSlot(reserved, port);
    return reserved;
  }
  // Only the slots the window can show are given out.
  for (int slot = 0; slot < DISPLAYED_SLOTS; ++slot) {
    if (slotPorts_[slot] == -1 && reservedSlots_[slot] == -1) {
      TakeSlot(slot, port);
      return slot;
    }
  }
  return -1;
}

void CPortSlotManager::TakeSlot(int slot, int port) {
  slotPorts_[slot] = port;
  portToSlot_[port] = slot;
  if (sink_) sink_->Send(WM_DL_STATUS, EngineReport{port, "Added!!", STATUS_PORT_ADDED});
}

void CPortSlotManager::RemovePort(int port) {
  const auto it = portToSlot_.find(port);
  if (it == portToSlot_.end() || slotPorts_[it->second] != port) return;
  slotPorts_[it->second] = -1;
  if (sink_) sink_->Send(WM_DL_STATUS, EngineReport{port, "Removed!!", STATUS_PORT_REMOVED});
}

int CPortSlotManager::SlotOfPort(int port) const {
  const auto it = portToSlot_.find(port);
  return it == portToSlot_.end() ? -1 : it->second;
}

int CPortSlotManager::PortOfSlot(int slot) const {
  return slot >= 0 && slot < SLOT_TABLE_SIZE ? slotPorts_[slot] : -1;
}

uint64_t CPortSlotManager::SlotTotal(int slot) const {
  return slot < 0 || slot >= SLOT_TABLE_SIZE ? 0 : slotTotals_[slot];
}

uint64_t CPortSlotManager::SlotTotal(int slot, uint64_t value) {
  if (slot < 0 || slot >= SLOT_TABLE_SIZE) return 0;
  if (value != 0) slotTotals_[slot] = value;
  return slotTotals_[slot];
}

int CPortSlotManager::CountOccupiedSlots() const {
  return static_cast<int>(
      std::count_if(slotPorts_.begin(), slotPorts_.end(), [](int port) { return port != -1; }));
}

void CPortSlotManager::ReserveSlot(int slot, int port) {
  if (slot >= 0 && slot < SLOT_TABLE_SIZE) reservedSlots_[slot] = port;
}

int CPortSlotManager::StartWorkers(const DownloadOptions& options, const EngineContext& context) {
  // The run's engines share one set of meta-data verdicts, made for this run unless the
  // caller brings its own.
  EngineContext runContext = context;
  if (!runContext.metaDataResults) runContext.metaDataResults = std::make_shared<MetaDataResults>();
  std::vector<std::unique_ptr<CDownloadEngine>> engines;
  for (int port : slotPorts_) {
    if (port == -1) continue;
    auto engine = std::make_unique<CDownloadEngine>(sink_, port, runContext);
    engine->CopyOptions(options);
    engines.push_back(std::move(engine));
  }
  run_ = std::make_unique<WorkerRun>(std::move(engines), sink_, context.timing);
  // A port whose thread could not be made has been reported failed and is not waited for.
  const int started = static_cast<int>(run_->Workers().size());
  // Without a watcher nothing runs, and the end of the run is reported here.
  if (!run_->Watching() && sink_) sink_->Send(WM_DL_COMPLETE, EngineReport{NO_PORT, "", 0});
  return started;
}

void CPortSlotManager::CollectResults(int* succeeded, int* failed) {
  *succeeded = run_ ? run_->Passed() : 0;
  *failed = run_ ? run_->Failed() : 0;
  // The watcher is still inside its end-of-run report: it is joined later, by ReleaseRun.
  if (run_) finishedRuns_.push_back(std::move(run_));
  std::fill(slotPorts_.begin(), slotPorts_.end(), -1);
  std::fill(slotTotals_.begin(), slotTotals_.end(), 0);
}

void CPortSlotManager::ReleaseRun() { finishedRuns_.clear(); }

}  // namespace mirk3
