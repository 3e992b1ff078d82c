#include "devsim/boot_loader.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "wire/end_of_sequence.h"
#include "wire/handshake.h"
#include "wire/response_packet.h"

namespace mirk3::devsim {
namespace {

constexpr size_t kScratchSize = 1 << 20;
constexpr auto kRebootDrainTime = std::chrono::seconds(2);
// The generic failure value for requests that are unknown or out of their order.
constexpr int32_t kRefused = -1;

}  // namespace

BootLoader::BootLoader(PhoneSetup setup, PtyLine* line, PartitionStore* store, RequestTrace* trace)
    : setup_(std::move(setup)),
      line_(line),
      store_(store),
      trace_(trace),
      failOccurrences_(setup_.faults.fails.size(), 0),
      pit_(setup_.pit),
      table_(ParsePitTable(pit_.data(), pit_.size())) {}

std::vector<uint8_t> BootLoader::Pit() const {
  std::lock_guard lock(pitMutex_);
  return pit_;
}

BootLoader::Flow BootLoader::FlowOf(Io io) {
  switch (io) {
    case Io::Ok:
      return Flow::Next;
    case Io::HostLeft:
      return Flow::HostLeft;
    default:
      return Flow::End;
  }
}

void BootLoader::Serve() {
  if (setup_.faults.silentAfter == SILENT_FROM_START) {
    Silence();
    return;
  }
  for (;;) {
    Flow flow = AwaitGreeting();
    if (flow == Flow::Next) flow = Converse();
    if (flow == Flow::End) return;
    line_->AcceptHostLeft();
  }
}

// Scans whatever arrives for "MIRK": bytes a departed host left in the line are skipped.
BootLoader::Flow BootLoader::AwaitGreeting() {
  std::string seen;
  uint8_t chunk[4096];
  for (;;) {
    size_t got = 0;
    if (ReadAny(chunk, sizeof chunk, &got) == Flow::End) return Flow::End;
    seen.append(reinterpret_cast<const char*>(chunk), got);
    const size_t at = seen.find(HANDSHAKE_HOST);
    if (at != std::string::npos) {
      const size_t after = at + HANDSHAKE_LENGTH;
      line_->Unread(reinterpret_cast<const uint8_t*>(seen.data()) + after, seen.size() - after);
      return AnswerGreeting();
    }
    seen.erase(0, seen.size() - std::min<size_t>(seen.size(), HANDSHAKE_LENGTH - 1));
  }
}

// A host that greets may be a new one whose predecessor's leaving is not yet accepted; the
// leaving is learnt here, before the answer, so that it cannot later take the answer away.
BootLoader::Flow BootLoader::AnswerGreeting() {
  const Io io = line_->Check();
  if (io == Io::HostLeft) line_->AcceptHostLeft();
  if (io != Io::Ok && io != Io::HostLeft) return Flow::End;
  session_ = Session{};
  store_->BeginSequence();
  char answer[HANDSHAKE_LENGTH] = {};
  const std::string text = setup_.faults.handshakeAnswer.value_or(HANDSHAKE_DEVICE);
  std::memcpy(answer, text.data(), std::min<size_t>(text.size(), HANDSHAKE_LENGTH));
  return FlowOf(line_->WriteAll(reinterpret_cast<const uint8_t*>(answer), HANDSHAKE_LENGTH));
}

BootLoader::Flow BootLoader::Converse() {
  uint8_t bytes[REQUEST_PACKET_SIZE];
  for (;;) {
    if (const Io io = line_->ReadExact(bytes, HANDSHAKE_LENGTH); io != Io::Ok) return FlowOf(io);
    // No request type spells "MIRK": this is a host that starts over.
    if (std::memcmp(bytes, HANDSHAKE_HOST, HANDSHAKE_LENGTH) == 0) {
      if (const Flow flow = AnswerGreeting(); flow != Flow::Next) return flow;
      continue;
    }
    Io io = line_->ReadExact(bytes + HANDSHAKE_LENGTH, sizeof bytes - HANDSHAKE_LENGTH);
    size_t putBack = HANDSHAKE_LENGTH;  // the rest of a cut request is put back by the line
    if (io == Io::Ok) {
      io = line_->Check();
      putBack = sizeof bytes;
    }
    if (io == Io::HostLeft) {
      // The request's host is gone: nothing is answered, and its last bytes may be the next
      // host's greeting.
      line_->Unread(bytes, putBack);
      return Flow::HostLeft;
    }
    if (io != Io::Ok) return Flow::End;
    const RequestPacket request = RequestPacket::Decode(bytes);
    trace_->Add(request);
    const auto& silentAfter = setup_.faults.silentAfter;
    if (silentAfter && requestsTaken_ >= static_cast<uint64_t>(*silentAfter)) return Silence();
    ++requestsTaken_;
    Flow flow;
    if (const FailRule* rule = InjectedFailure(request)) {
      Abandon(request);
      flow = Fail(rule->code);
    } else {
      flow = Handle(request);
    }
    if (flow != Flow::Next) return flow;
  }
}

// Takes everything in and answers nothing, for the rest of the phone's life.
BootLoader::Flow BootLoader::Silence() {
  uint8_t chunk[4096];
  for (;;) {
    size_t got = 0;
    if (ReadAny(chunk, sizeof chunk, &got) == Flow::End) return Flow::End;
  }
}

// Whatever arrives, up to `size` bytes; a host that left is let go at once, with nothing read
// (what it sent matters no more). kEnd when the line failed or the phone was stopped.
BootLoader::Flow BootLoader::ReadAny(uint8_t* chunk, size_t size, size_t* got) {
  const Io io = line_->ReadSome(chunk, size, got);
  if (io == Io::HostLeft) {
    line_->AcceptHostLeft();
    *got = 0;
    return Flow::Next;
  }
  return io == Io::Ok ? Flow::Next : Flow::End;
}

BootLoader::Flow BootLoader::Respond(int32_t id, int32_t value) {
  const auto bytes = ResponsePacket{id, value}.Encode();
  return FlowOf(line_->WriteAll(bytes.data(), bytes.size()));
}

const FailRule* BootLoader::InjectedFailure(const RequestPacket& request) {
  const FailRule* fires = nullptr;
  for (size_t i = 0; i < setup_.faults.fails.size(); ++i) {
    const FailRule& rule = setup_.faults.fails[i];
    if (rule.type != request.type || rule.subType != request.subType) continue;
    if (++failOccurrences_[i] > rule.after && !fires) fires = &rule;
  }
  return fires;
}

// A refused request ends what it would have ended or started.
void BootLoader::Abandon(const RequestPacket& request) {
  if (request.type == RQT_XMIT) {
    session_.sequenceBytes = 0;
    store_->BeginSequence();
  } else if (request.type == RQT_PIT) {
    session_.pit = PitMode::Idle;
  } else if (request.type == RQT_DEVINFO) {
    session_.deviceInfo = false;
  }
}

BootLoader::Flow BootLoader::Handle(const RequestPacket& request) {
  switch (request.type) {
    case RQT_INIT:
      return HandleInit(request);
    case RQT_PIT:
      return HandlePit(request);
    case RQT_XMIT:
      return HandleXmit(request);
    case RQT_CLOSE:
      return HandleClose(request);
    case RQT_DEVINFO:
      return HandleDeviceInfo(request);
    default:
      return Fail(kRefused);
  }
}

BootLoader::Flow BootLoader::HandleInit(const RequestPacket& request) {
  switch (request.subType) {
    case RQT_INIT_BEGIN:
      return Respond(RQT_INIT, AnswerOfProtocolVersion(setup_.protocol));
    case RQT_INIT_PACKETSIZE:
      if (request.words[0] <= 0) return Fail(BL_FAIL_SIZE);
      session_.packetSize = request.words[0];
      return Respond(RQT_INIT, 0);
    case RQT_INIT_ERASE:
      if (!line_->Sleep(std::chrono::milliseconds(setup_.faults.eraseMs))) return Flow::End;
      return Respond(RQT_INIT, 0);
    case RQT_INIT_TOTALSIZE:
    case RQT_INIT_LOCK:
    case RQT_INIT_TFLASH:
    case RQT_INIT_RTN:
      return Respond(RQT_INIT, 0);
    default:
      return Fail(kRefused);
  }
}

BootLoader::Flow BootLoader::HandlePit(const RequestPacket& request) {
  switch (request.subType) {
    case RQT_PIT_SET:
      session_.pit = PitMode::UploadBegun;
      return Respond(RQT_PIT, 0);
    case RQT_PIT_GET: {
      session_.pit = PitMode::Download;
      std::lock_guard lock(pitMutex_);
      return Respond(RQT_PIT, static_cast<int32_t>(pit_.size()));
    }
    case RQT_PIT_XMIT:
      if (session_.pit == PitMode::UploadBegun) return ReceivePitUpload(request.words[0]);
      if (session_.pit == PitMode::Download) {
        const std::vector<uint8_t> pit = Pit();
        return SendPiece(pit, static_cast<int64_t>(pit.size()), request.words[0]);
      }
      return Fail(kRefused);
    case RQT_PIT_END:
      return EndPitTransfer(request);
    default:
      return Fail(kRefused);
  }
}

BootLoader::Flow BootLoader::ReceivePitUpload(int32_t length) {
  if (length <= 0 || static_cast<uint64_t>(length) > MAX_PIT_SIZE) return Fail(BL_FAIL_SIZE);
  if (const Flow flow = Respond(RQT_PIT, 0); flow != Flow::Next) return flow;
  session_.upload.assign(static_cast<size_t>(length), 0);
  if (const Io io = line_->ReadExact(session_.upload.data(), session_.upload.size());
      io != Io::Ok) {
    return FlowOf(io);
  }
  session_.pit = PitMode::Uploaded;
  return Respond(RQT_PIT, 0);
}

BootLoader::Flow BootLoader::EndPitTransfer(const RequestPacket& request) {
  const PitMode mode = session_.pit;
  session_.pit = PitMode::Idle;
  if (mode == PitMode::UploadBegun) return Fail(kRefused);  // nothing arrived
  if (mode == PitMode::Uploaded) {
    if (static_cast<size_t>(request.words[0]) != session_.upload.size()) {
      return Fail(BL_FAIL_SIZE);
    }
    std::lock_guard lock(pitMutex_);
    pit_ = std::move(session_.upload);
    table_ = ParsePitTable(pit_.data(), pit_.size());
    session_.upload.clear();
  }
  return Respond(RQT_PIT, 0);
}

// One piece of a record handed out raw; past the record's bytes (an announced size larger
// than the record) the piece is zeros. An index past the size gets the failure response.
BootLoader::Flow BootLoader::SendPiece(const std::vector<uint8_t>& source, int64_t size,
                                       int32_t index) {
  const int64_t start = static_cast<int64_t>(index) * PIECE_SIZE;
  if (index < 0 || start >= size) return Fail(kRefused);
  const auto length = static_cast<size_t>(std::min<int64_t>(PIECE_SIZE, size - start));
  std::vector<uint8_t> piece(length, 0);
  const auto from = static_cast<size_t>(start);
  if (from < source.size()) {
    std::copy_n(source.begin() + static_cast<long>(from), std::min(length, source.size() - from),
                piece.begin());
  }
  return FlowOf(line_->WriteAll(piece.data(), piece.size()));
}

BootLoader::Flow BootLoader::HandleXmit(const RequestPacket& request) {
  switch (request.subType) {
    case RQT_XMIT_BEGIN:
      session_.sequenceBytes = 0;
      store_->BeginSequence();
      return Respond(RQT_XMIT, 0);
    case RQT_XMIT_ANNOUNCE:
      if (const Flow flow = Respond(RQT_XMIT, 0); flow != Flow::Next) return flow;
      return ReceiveSequence(static_cast<uint32_t>(request.words[0]));
    case RQT_XMIT_END:
      return EndSequence(request);
    default:
      return Fail(kRefused);
  }
}

// ceil(announced / packet size) packets of exactly the packet size, each acknowledged. The
// bytes past the announced length are the tail of a short last packet and are dropped. (With a
// packet size that is not a multiple of 131072 the station may send one packet fewer than
// this; the phone then waits for it, as a boot loader that counts by the announced length
// would.)
BootLoader::Flow BootLoader::ReceiveSequence(uint32_t announced) {
  const auto packetSize = static_cast<uint64_t>(session_.packetSize);
  const uint64_t packets = (announced + packetSize - 1) / packetSize;
  const auto& vanishAfter = setup_.faults.vanishAfterBytes;
  session_.sequenceBytes = 0;
  store_->BeginSequence();
  if (scratch_.empty()) scratch_.resize(kScratchSize);
  bool stored = true;
  for (uint64_t packet = 0; packet < packets; ++packet) {
    if (const Io io = line_->Check(); io != Io::Ok) return FlowOf(io);
    for (uint64_t left = packetSize; left > 0;) {
      size_t want = static_cast<size_t>(std::min<uint64_t>(left, scratch_.size()));
      if (vanishAfter) {
        if (dataBytes_ >= *vanishAfter) return Vanish();
        want = static_cast<size_t>(std::min<uint64_t>(want, *vanishAfter - dataBytes_));
      }
      size_t got = 0;
      if (const Io io = line_->ReadSome(scratch_.data(), want, &got); io != Io::Ok) {
        return FlowOf(io);
      }
      const size_t keep =
          static_cast<size_t>(std::min<uint64_t>(got, announced - session_.sequenceBytes));
      if (store_->Keeping() && keep > 0) stored = store_->Append(scratch_.data(), keep) && stored;
      session_.sequenceBytes += keep;
      dataBytes_ += got;
      left -= got;
    }
    if (const Flow flow = Respond(RQT_XMIT, 0); flow != Flow::Next) return flow;
  }
  // A spool that could not be written leaves nothing to commit: the end request fails.
  if (!stored) session_.sequenceBytes = 0;
  return Flow::Next;
}

BootLoader::Flow BootLoader::EndSequence(const RequestPacket& request) {
  const uint64_t received = session_.sequenceBytes;
  session_.sequenceBytes = 0;
  const std::optional<EndOfSequence> end = EndOfSequence::FromWords(request.words);
  if (!end) return Fail(kRefused);
  std::string name;
  {
    std::lock_guard lock(pitMutex_);
    const PitEntry* entry = table_.FindById(end->partitionId);
    if (!entry) return Fail(BL_FAIL_WRITE);
    name = std::string(entry->PartitionName());
  }
  if (end->length > received) return Fail(BL_FAIL_SIZE);
  const bool written = store_->Commit(end->partitionId, name, end->length, end->last);
  store_->BeginSequence();
  return written ? Respond(RQT_XMIT, 0) : Fail(BL_FAIL_WRITE);
}

BootLoader::Flow BootLoader::HandleClose(const RequestPacket& request) {
  switch (request.subType) {
    case RQT_CLOSE_END:
      return Respond(RQT_CLOSE, 0);
    case RQT_CLOSE_REBOOT: {
      const Flow flow = Respond(RQT_CLOSE, 0);
      // The answer is left for the host to read before the port goes away.
      if (flow == Flow::Next) line_->WaitDrained(kRebootDrainTime);
      return flow == Flow::End ? flow : Vanish();
    }
    default:
      return Fail(kRefused);
  }
}

BootLoader::Flow BootLoader::HandleDeviceInfo(const RequestPacket& request) {
  switch (request.subType) {
    case RQT_DEVINFO_BEGIN:
      session_.deviceInfo = true;
      return Respond(RQT_DEVINFO, setup_.deviceInfoSize);
    case RQT_DEVINFO_PIECE:
      if (!session_.deviceInfo) return Fail(kRefused);
      return SendPiece(setup_.deviceInfo, setup_.deviceInfoSize, request.words[0]);
    case RQT_DEVINFO_END:
      session_.deviceInfo = false;
      return Respond(RQT_DEVINFO, 0);
    default:
      return Fail(kRefused);
  }
}

BootLoader::Flow BootLoader::Vanish() {
  line_->Unplug();
  return Flow::End;
}

}  // namespace mirk3::devsim
