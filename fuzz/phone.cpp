// A phone that answers anything: a whole download, full or short sequence, against a peer
// whose every byte (the greeting's answer, responses, acknowledgements, partition-table and
// device-information pieces) is the fuzzer's. The first input byte chooses the run's options
// (support/phone_run.h); the rest is what the phone says, read in order; once it is used up
// the phone is silent, which the line reports at once as a time-out.
//
// What must hold: the engine greets first, never has two reads in flight for one write, and
// ends with a pass only when the phone answered every request whose answer the run depends on
// as a phone does: "TASH" to the greeting, each such request's own type as the response id,
// a device-information record of the packages' model, and the close request accepted. A run
// that fails says so with a failure report; one that passes reports its completion once.
#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/le.h"
#include "base/text.h"
#include "engine/download_engine.h"
#include "engine/engine_report.h"
#include "support/fuzz_target.h"
#include "support/phone_run.h"
#include "wire/device_info_record.h"
#include "wire/handshake.h"
#include "wire/request_packet.h"
#include "wire/request_table.h"
#include "wire/response_packet.h"

namespace {

using mirk3::fuzz::Require;

// One write of the engine and what the phone answered to it.
struct Exchange {
  enum class Kind { Greeting, Request, Data } kind = Kind::Data;
  int32_t type = 0, subType = 0;
  std::string answer;
  int reads = 0;
};

class AnsweringLine : public mirk3::ByteLine {
 public:
  AnsweringLine(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  bool WriteData(const void* buffer, int length) override {
    if (closed_) return Fail(mirk3::LineError::NotOpen);
    Require(length > 0, "an empty write");
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    Exchange exchange;
    if (length == mirk3::HANDSHAKE_LENGTH &&
        std::memcmp(bytes, mirk3::HANDSHAKE_HOST, mirk3::HANDSHAKE_LENGTH) == 0) {
      exchange.kind = Exchange::Kind::Greeting;
    } else if (length == mirk3::REQUEST_PACKET_SIZE) {
      exchange.kind = Exchange::Kind::Request;
      exchange.type = mirk3::GetLe32s(bytes);
      exchange.subType = mirk3::GetLe32s(bytes + 4);
    }
    Require(!transcript_.empty() || exchange.kind == Exchange::Kind::Greeting,
            "the engine spoke before its greeting");
    transcript_.push_back(exchange);
    lastError_ = mirk3::LineError::None;
    return true;
  }

  bool WriteWhileWaiting(const void* buffer, int length, const std::function<bool()>&) override {
    return WriteData(buffer, length);
  }

  bool ReadData(void* buffer, int length) override {
    if (closed_) return Fail(mirk3::LineError::NotOpen);
    Require(length > 0 && !transcript_.empty(), "a read with nothing asked");
    Exchange& exchange = transcript_.back();
    Require(++exchange.reads == 1, "two reads for one write");
    const size_t want = static_cast<size_t>(length);
    const size_t got = std::min(want, size_ - at_);
    std::memcpy(buffer, data_ + at_, got);
    exchange.answer.assign(reinterpret_cast<const char*>(data_ + at_), got);
    at_ += got;
    if (got < want) return Fail(mirk3::LineError::TimedOut);
    lastError_ = mirk3::LineError::None;
    return true;
  }

  bool ClosePort() override {
    const bool wasOpen = !closed_;
    closed_ = true;
    return wasOpen;
  }

  mirk3::LineError LastError() const override { return lastError_; }
  const std::vector<Exchange>& Transcript() const { return transcript_; }

 private:
  bool Fail(mirk3::LineError why) {
    lastError_ = why;
    return false;
  }

  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
  bool closed_ = false;
  mirk3::LineError lastError_ = mirk3::LineError::None;
  std::vector<Exchange> transcript_;
};

class CountingSink : public mirk3::EngineObserver {
 public:
  void Tell(const mirk3::PortEvent& event) override {
    const auto shown = mirk3::AsMessage(event);
    if (shown) {
      // 127 characters, none longer than 4 bytes, whatever bytes the phone sent.
      Require(shown->report.text.size() <= 4 * 127, "a report text longer than a report holds");
    }
    failures += std::holds_alternative<mirk3::FailureShown>(event.event);
    verdicts += std::holds_alternative<mirk3::Failed>(event.event);
    completions += std::holds_alternative<mirk3::Passed>(event.event);
  }
  int failures = 0, verdicts = 0, completions = 0;
};

bool AnsweredAsRequest(const Exchange& exchange) {
  return exchange.answer.size() == mirk3::RESPONSE_PACKET_SIZE &&
         mirk3::GetLe32s(reinterpret_cast<const uint8_t*>(exchange.answer.data())) == exchange.type;
}

// Requests whose failed answer the run goes on from: the protocol version, the packet size,
// the announced total and the reboot.
bool AnswerNotNeeded(const Exchange& e) {
  return (e.type == mirk3::RQT_INIT &&
          (e.subType == mirk3::RQT_INIT_BEGIN || e.subType == mirk3::RQT_INIT_PACKETSIZE ||
           e.subType == mirk3::RQT_INIT_TOTALSIZE)) ||
         (e.type == mirk3::RQT_CLOSE && e.subType == mirk3::RQT_CLOSE_REBOOT);
}

void CheckDeviceInfo(const std::string& record) {
  const std::vector<uint8_t> bytes(record.begin(), record.end());
  const mirk3::DeviceInfoView view(bytes);
  Require(view.Magic() == mirk3::DEVINFO_MAGIC, "a pass on a record without its magic");
  for (const auto& item : view.Descriptors()) {
    if (item.type != mirk3::DEVINFO_ITEM_MODEL) continue;
    const auto model = view.ItemText(item);
    Require(model && mirk3::EqualsIgnoreCase(*model, mirk3::fuzz::PhoneRunModel()),
            "a pass on a phone of another model");
    return;
  }
  Require(false, "a pass on a record without a model");
}

void CheckPassed(const std::vector<Exchange>& transcript) {
  Require(!transcript.empty() && transcript[0].kind == Exchange::Kind::Greeting &&
              transcript[0].answer == mirk3::HANDSHAKE_DEVICE,
          "a pass without the boot loader's greeting");
  bool readingTable = false;
  std::string deviceInfo;
  bool deviceInfoAsked = false;
  const Exchange* lastNeeded = nullptr;
  for (const Exchange& e : transcript) {
    if (e.kind == Exchange::Kind::Data) {
      Require(e.answer.size() == mirk3::RESPONSE_PACKET_SIZE, "a pass with data unacknowledged");
      continue;
    }
    if (e.kind != Exchange::Kind::Request) continue;
    const bool tablePiece =
        readingTable && e.type == mirk3::RQT_PIT && e.subType == mirk3::RQT_PIT_XMIT;
    const bool infoPiece = e.type == mirk3::RQT_DEVINFO && e.subType == mirk3::RQT_DEVINFO_PIECE;
    if (tablePiece || infoPiece) {
      Require(e.reads == 1 && !e.answer.empty() &&
                  e.answer.size() <= static_cast<size_t>(mirk3::PIECE_SIZE),
              "a pass with a piece not read whole");
      if (infoPiece) deviceInfo += e.answer;
      continue;
    }
    if (e.type == mirk3::RQT_PIT && e.subType == mirk3::RQT_PIT_GET) readingTable = true;
    if (e.type == mirk3::RQT_PIT && e.subType == mirk3::RQT_PIT_END) readingTable = false;
    if (e.type == mirk3::RQT_DEVINFO && e.subType == mirk3::RQT_DEVINFO_BEGIN) {
      deviceInfoAsked = true;
    }
    if (AnswerNotNeeded(e)) continue;
    Require(AnsweredAsRequest(e), "a pass with a request the phone did not answer as its own");
    lastNeeded = &e;
  }
  Require(lastNeeded && lastNeeded->type == mirk3::RQT_CLOSE &&
              lastNeeded->subType == mirk3::RQT_CLOSE_END,
          "a pass that did not end with the close request");
  if (deviceInfoAsked) CheckDeviceInfo(deviceInfo);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const auto line = std::make_shared<AnsweringLine>(data + 1, size - 1);
  CountingSink sink;
  bool passed = false;
  {
    mirk3::CDownloadEngine engine(&sink, 0, mirk3::fuzz::PhoneRunContext(line));
    engine.CopyOptions(mirk3::fuzz::PhoneRunOptions(data[0]));
    passed = engine.RunSteps();
  }
  if (passed) {
    CheckPassed(line->Transcript());
    // A pass may carry the failure reports of requests the run goes on from.
    Require(sink.completions == 1 && sink.verdicts == 0, "a pass that does not say so");
  } else {
    Require(sink.completions == 0 && sink.failures > 0, "a failed run that does not say why");
    Require(sink.verdicts == 1, "a failed port without exactly one verdict");
  }
  return 0;
}
