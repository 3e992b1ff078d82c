#include "engine/download_engine.h"

#include <cstdarg>
#include <new>
#include <thread>
#include <utility>

#include "base/file.h"
#include "base/text.h"
#include "engine/string_table.h"
#include "packages/one_click_program.h"

namespace mirk3 {

CDownloadEngine::CDownloadEngine(EngineObserver* observer, int port, EngineContext context)
    : port_(port), reports_(observer, port), context_(std::move(context)), line_(context_) {
  reports_.Notef("Mirk engine v(ID:%.4f)..", ENGINE_VERSION);
  DetectOneClick();
}

CDownloadEngine::~CDownloadEngine() {
  CloseOwnExecutable();
  line_.ClosePort();
}

void CDownloadEngine::DetectOneClick() {
  if (context_.ownExecutablePath.empty()) return;  // no program of its own: file mode
  Result<OpenedFile> opened = OpenRegularFile(context_.ownExecutablePath);
  if (!opened) {
    // The engine goes on in file mode; the operator learns why the program's own packages,
    // if it carries any, are not used.
    reports_.Note(DescribeFileProblem(context_.ownExecutablePath, opened.error().text));
    return;
  }
  OpenedFile& own = *opened;
  const std::optional<OneClickTrailer> trailer = ReadOneClickTrailer(own);
  if (!trailer) return;
  trailer_ = *trailer;
  reports_.Notef("One Click Downloader Mode\n");
  oneClickMode_ = true;
  // The packages it carries are read through this descriptor until the run ends.
  ownExecutableFd_ = std::move(own.fd);
}

void CDownloadEngine::CloseOwnExecutable() { ownExecutableFd_.Reset(); }

void CDownloadEngine::CopyOptions(const DownloadOptions& options) {
  options_ = options;
  if (!oneClickMode_) return;
  options_.FResetTime = 0;
  options_.RePartition = static_cast<int32_t>(trailer_.rePartition);
  options_.AutoReboot = static_cast<int32_t>(trailer_.autoReboot);
  options_.PhoneEFSClear = static_cast<int32_t>(trailer_.phoneEfsClear);
  options_.PhoneBootUpdate = static_cast<int32_t>(trailer_.phoneBootUpdate);
  options_.NandErase = 0;
  options_.TFlash = 0;
  options_.rtnForSprint = 0;
  options_.slotEnabled.fill(0);
}

// The full sequence is every row; the device-info session runs the rows marked for it.
const std::vector<CDownloadEngine::Step>& CDownloadEngine::Steps() {
  using E = CDownloadEngine;
  using P = DownloadPlan;
  static const std::vector<Step> steps = {
      {"file analysis", [](E& e, P& plan) { return e.FileAnalysisStep(&plan); }, false},
      {"connection", [](E& e, P&) { return e.SetupConnection(); }, true},
      {"initialization", [](E& e, P& plan) { return e.InitializationStep(plan); }, true},
      {"device info", [](E& e, P& plan) { return e.DeviceInfoStep(plan); }, true},
      {"lock, erase and T flash", [](E& e, P&) { return e.OptionRequestsStep(); }, true},
      {"partition table upload", [](E& e, P& plan) { return e.SetPartitionStep(plan); }, false},
      {"partition table read", [](E& e, P& plan) { return e.GetPitStep(plan); }, false},
      {"firmware update", [](E& e, P& plan) { return e.FirmwareUpdateStep(plan); }, false},
      {"close", [](E& e, P&) { return e.CloseStep(); }, true}};
  return steps;
}

// After the failure texts, the line's own reason when the phone went away or went silent: the
// operator then knows to look at the cable or the phone, not at the packages.
void CDownloadEngine::ExplainLineFailure() {
  const LineError why = line_.LastError();
  if (why == LineError::Removed) {
    reports_.Notef("The phone was disconnected");
  } else if (why == LineError::TimedOut) {
    const auto ms = static_cast<long long>(context_.timing.firstByteTimeout.count());
    if (ms % 1000 == 0) {
      reports_.Notef("The phone did not answer within %lld seconds", ms / 1000);
    } else {
      reports_.Notef("The phone did not answer within %lld ms", ms);
    }
  }
}

bool CDownloadEngine::RunSteps() {
  const bool session = options_.deviceInfo != 0;
  DownloadPlan plan;  // the device-info session's stays empty
  for (const Step& step : Steps()) {
    if (session && !step.inDeviceInfoSession) continue;
    if (!RunStep(step, plan)) {
      CloseOwnExecutable();
      return false;
    }
    std::this_thread::sleep_for(context_.timing.stepPause);
  }
  CloseOwnExecutable();
  return true;
}

// A phone that fails is always shown as failed: a step that ends the run without a refusal
// of its own gets one here, so that no slot is left without PASS or FAIL, and the port's
// verdict is told once, here, with the first refusal it showed. Nothing a step throws leaves
// the worker: one phone's failure never takes the other phones down.
bool CDownloadEngine::RunStep(const Step& step, DownloadPlan& plan) {
  reports_.BeginStep();
  reports_.Tell(StepStarted{step.name});
  bool passed = false;
  try {
    passed = step.run(*this, plan);
  } catch (const std::bad_alloc&) {
    reports_.Fail(FAIL_OUT_OF_MEMORY, LoadString(IDS_OUT_OF_MEMORY));
  } catch (const std::exception& error) {
    reports_.Failf(FAIL_REQUEST, "FAIL! (%s) %s", step.name, error.what());
  }
  if (passed) return true;
  if (!reports_.StepFailure()) reports_.Failf(FAIL_REQUEST, "FAIL! The %s step failed", step.name);
  ExplainLineFailure();
  const FailureShown& first = *reports_.StepFailure();
  reports_.Tell(Failed{first.code, first.text, step.name, line_.LastError()});
  return false;
}

}  // namespace mirk3
