// The station's ports and slots: which port sits in which of the window's slots, the byte
// total of each slot's running download, and the workers of the current run. Every operation
// runs on the station's main thread; placements and removals are reported as status reports.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "engine/download_options.h"
#include "engine/engine_context.h"
#include "engine/engine_report.h"
#include "engine/worker.h"

namespace mirk3 {

inline constexpr int SLOT_TABLE_SIZE = 100;
inline constexpr int DISPLAYED_SLOTS = 56;  // 8 large and 48 small slots in the window

class CPortSlotManager {
 public:
  explicit CPortSlotManager(ReportSink* sink);
  ~CPortSlotManager();

  // Gives the port the first free slot (reports "Added!!"). Returns the slot, the slot it
  // already holds, or -1 when no slot is free or its reserved slot is busy.
  int PlacePort(int port);
  // Frees the port's slot (reports "Removed!!"); a port that never had a slot changes nothing.
  void RemovePort(int port);

  int SlotOfPort(int port) const;  // -1 for a port that was never placed
  int PortOfSlot(int slot) const;  // -1 for a free slot
  // The system's total of a slot: a non-zero `value` sets it; the total is returned.
  uint64_t SlotTotal(int slot, uint64_t value);
  // The total of a slot, only read.
  uint64_t SlotTotal(int slot) const;
  int CountOccupiedSlots() const;
  void ReserveSlot(int slot, int port);

  // Creates one engine and worker per occupied slot, in slot order, and starts the run.
  // Returns the number of workers started.
  int StartWorkers(const DownloadOptions& options, const EngineContext& context);
  // After the end-of-run report: counts exit codes, frees every slot and total.
  void CollectResults(int* succeeded, int* failed);
  // Joins the finished run's watcher; call outside report handling.
  void ReleaseRun();
  bool Running() const { return run_ != nullptr; }

 private:
  void TakeSlot(int slot, int port);

  ReportSink* sink_;
  std::vector<int> slotPorts_;
  std::map<int, int> portToSlot_;
  std::vector<int> reservedSlots_;
  std::vector<uint64_t> slotTotals_;
  std::unique_ptr<WorkerRun> run_;
  std::vector<std::unique_ptr<WorkerRun>> finishedRuns_;
};

}  // namespace mirk3
