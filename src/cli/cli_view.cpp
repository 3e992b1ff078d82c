#include "cli/cli_view.h"

#include <cerrno>
#include <system_error>

namespace mirk3 {

CliView::CliView(std::ostream& out, std::ostream& err, int terminalFd)
    : out_(out),
      err_(err),
      live_(terminalFd >= 0 ? std::make_unique<LiveDisplay>(err, terminalFd) : nullptr) {}

std::vector<PortRun> CliView::Ports() const {
  std::vector<PortRun> ports;
  for (const auto& [slot, run] : ports_) ports.push_back(run);
  return ports;
}

void CliView::AppendLog(const std::string& line) {
  if (live_) live_->Clear();
  errno = 0;
  out_ << line << '\n' << std::flush;
  if (!out_) {
    // A reader that went away (`| grep -m1`) or a full disk: the run goes on, and the next
    // line is tried again.
    const int error = errno;
    out_.clear();
    if (health_) {
      health_->Lost("standard output",
                    "cannot write the log to standard output" +
                        (error ? ": " + std::generic_category().message(error) : std::string()));
    }
  }
  if (live_ && !ports_.empty()) live_->Update(Ports(), std::chrono::steady_clock::now(), true);
}

void CliView::PortRunChanged(const PortRun& run) {
  // A new run's first report starts a new picture.
  if (!ports_.empty() && ports_.begin()->second.run != run.run) ports_.clear();
  ports_[run.slot] = run;
  if (live_) {
    live_->Update(Ports(), std::chrono::steady_clock::now(), run.verdict != Verdict::Running);
  }
}

void CliView::ShowMessage(const std::string& text, const std::string&) {
  if (live_) live_->Clear();
  err_ << "mirk3-cli: " << text << '\n' << std::flush;
}

void CliView::ShowError(const std::string& line) {
  if (live_) live_->Clear();
  err_ << line << '\n' << std::flush;
}

void CliView::FinishRun() {
  if (live_ && !ports_.empty()) live_->Finish(Ports());
  ports_.clear();
}

}  // namespace mirk3
