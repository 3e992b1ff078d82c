#include "engine/engine_report.h"

namespace mirk3 {
namespace {

struct ToMessage {
  int32_t port;
  std::optional<MessageReport> Of(int message, std::string text, int64_t value) const {
    return MessageReport{message, EngineReport{port, std::move(text), value}};
  }
  std::optional<MessageReport> operator()(const Note& e) const { return Of(WM_DL_LOG, e.text, 0); }
  std::optional<MessageReport> operator()(const StepStarted&) const { return std::nullopt; }
  std::optional<MessageReport> operator()(const DownloadStarted& e) const {
    return Of(WM_DL_START, e.text, static_cast<int64_t>(e.total));
  }
  std::optional<MessageReport> operator()(const Progress& e) const {
    return Of(WM_DL_PROGRESS, e.what, static_cast<int64_t>(e.sent));
  }
  std::optional<MessageReport> operator()(const DeviceIdentified&) const { return std::nullopt; }
  std::optional<MessageReport> operator()(const FailureShown& e) const {
    return Of(WM_DL_FAIL, e.text, e.code);
  }
  std::optional<MessageReport> operator()(const Failed&) const { return std::nullopt; }
  std::optional<MessageReport> operator()(const Passed& e) const {
    return Of(WM_DL_COMPLETE, e.text, 0);
  }
  std::optional<MessageReport> operator()(const CloseAccepted&) const {
    return Of(WM_DL_STATUS, "", STATUS_CLOSE_ACCEPTED);
  }
  std::optional<MessageReport> operator()(const RunEnded&) const {
    return Of(WM_DL_COMPLETE, "", 0);
  }
};

}  // namespace

std::optional<MessageReport> AsMessage(const PortEvent& event) {
  return std::visit(ToMessage{event.port}, event.event);
}

}  // namespace mirk3
