#include "devsim/jig.h"

#include <fcntl.h>
#include <sys/eventfd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>

#include "base/text.h"
#include "jig/frames.h"

namespace mirk3::devsim {
namespace {

constexpr char CHECK_ANSWER[] = ":VEMU01";
// The first piece of an answer split in two.
constexpr size_t FIRST_PIECE = 5;

std::vector<uint8_t> FrameOf(const std::string& text) {
  uint8_t frame[JIG_FRAME_BUFFER];
  const int length = BuildFrame(text.c_str(), frame);
  return std::vector<uint8_t>(frame, frame + length);
}

bool IsStatusFrame(const uint8_t* frame) {
  const std::string word(reinterpret_cast<const char*>(frame) + 3, 4);
  return frame[1] == 'S' && frame[2] >= '1' && frame[2] <= '8' &&
         (word == "ADST" || word == "ADOK" || word == "ADNG");
}

}  // namespace

std::string JigPortName(int port) { return "ttyUSB" + std::to_string(port); }

EmulatedJig::EmulatedJig(JigConfig config, std::string portDir, std::string traceDir)
    : config_(config),
      portDir_(std::move(portDir)),
      traceFile_(traceDir.empty() ? "" : traceDir + "/" + JigName(config) + ".trace"),
      stopFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      line_(stopFd_.Get()) {}

EmulatedJig::~EmulatedJig() { Stop(); }

std::string JigName(const JigConfig& config) {
  if (config.ttyPath.empty()) return JigPortName(config.port);
  return std::filesystem::path(config.ttyPath).filename().string();
}

std::string EmulatedJig::LinkPath() const {
  return config_.ttyPath.empty() ? portDir_ + "/" + JigPortName(config_.port) : config_.ttyPath;
}

bool EmulatedJig::Start(std::string* error) {
  if (!stopFd_) {
    *error = "cannot create an event descriptor";
    return false;
  }
  std::error_code ignored;
  std::filesystem::create_directories(portDir_, ignored);
  if (!traceFile_.empty()) {
    std::filesystem::create_directories(std::filesystem::path(traceFile_).parent_path(), ignored);
    trace_.Reset(::open(traceFile_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (!trace_) {
      *error = Format("cannot create %s: %s", traceFile_.c_str(), std::strerror(errno));
      return false;
    }
  }
  const bool opened =
      config_.ttyPath.empty() ? line_.Open(LinkPath(), error) : line_.OpenExisting(LinkPath(), error);
  if (!opened) return false;
  thread_ = std::thread([this] { Serve(); });
  return true;
}

void EmulatedJig::Stop() {
  if (thread_.joinable()) {
    const uint64_t one = 1;
    WriteFully(stopFd_.Get(), &one, sizeof one);
    thread_.join();
  }
  line_.Unplug();
}

std::vector<std::string> EmulatedJig::Received() const {
  std::lock_guard lock(mutex_);
  return received_;
}

std::vector<uint8_t> EmulatedJig::AnswerTo(const uint8_t* frame) {
  if (FrameChecksum(frame, JIG_FRAME_LENGTH - 1) != frame[JIG_FRAME_LENGTH - 1]) return {};
  if (std::memcmp(frame, JIG_CHECK_TEXT, JIG_FRAME_LENGTH - 1) == 0) {
    return FrameOf(CHECK_ANSWER);
  }
  if (!IsStatusFrame(frame)) return {};
  std::string text(reinterpret_cast<const char*>(frame), JIG_FRAME_LENGTH - 1);
  text[1] = 'A';
  return FrameOf(text);
}

void EmulatedJig::Serve() {
  for (;;) {
    uint8_t frame[JIG_FRAME_LENGTH];
    const Io io = ReadFrame(frame);
    if (io == Io::HostLeft) {
      line_.AcceptHostLeft();
      continue;
    }
    if (io != Io::Ok) return;
    Record(frame);
    std::vector<uint8_t> answer = AnswerTo(frame);
    if (!answer.empty() && !config_.silent && !Answer(std::move(answer))) return;
  }
}

Io EmulatedJig::ReadFrame(uint8_t* frame) {
  size_t have = 0;
  while (have < JIG_FRAME_LENGTH) {
    size_t got = 0;
    // A frame cut by a departing host is dropped with it.
    if (const Io io = line_.ReadSome(frame + have, JIG_FRAME_LENGTH - have, &got); io != Io::Ok) {
      return io;
    }
    const size_t end = have + got;
    // Frames start with a colon: stray bytes before one are skipped.
    if (have == 0) {
      const auto* colon = static_cast<const uint8_t*>(std::memchr(frame, ':', end));
      const size_t skip = colon ? static_cast<size_t>(colon - frame) : end;
      std::memmove(frame, frame + skip, end - skip);
      have = end - skip;
    } else {
      have = end;
    }
  }
  return Io::Ok;
}

void EmulatedJig::Record(const uint8_t* frame) {
  const std::string line = DescribeFrame(frame, JIG_FRAME_LENGTH);
  std::lock_guard lock(mutex_);
  if (trace_) {
    const std::string written = line + '\n';
    WriteFully(trace_.Get(), written.data(), written.size());
  }
  received_.push_back(line);
}

bool EmulatedJig::Answer(std::vector<uint8_t> answer) {
  const size_t wanted = config_.answerBytes > 0 ? static_cast<size_t>(config_.answerBytes) : 0;
  answer.resize(wanted, '#');  // a long answer goes on with filler
  if (config_.delayMs > 0 && !line_.Sleep(std::chrono::milliseconds(config_.delayMs))) {
    return false;
  }
  if (config_.splitMs < 0 || answer.size() <= FIRST_PIECE) {
    return line_.WriteAll(answer.data(), answer.size()) != Io::Failed;
  }
  if (line_.WriteAll(answer.data(), FIRST_PIECE) == Io::Failed) return false;
  if (!line_.Sleep(std::chrono::milliseconds(config_.splitMs))) return false;
  return line_.WriteAll(answer.data() + FIRST_PIECE, answer.size() - FIRST_PIECE) != Io::Failed;
}

}  // namespace mirk3::devsim
