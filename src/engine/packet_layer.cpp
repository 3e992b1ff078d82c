#include "engine/packet_layer.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "base/file.h"
#include "engine/string_table.h"
#include "wire/request_packet.h"
#include "wire/response_packet.h"

namespace mirk3 {

int32_t PacketLayer::SendRequest(int32_t type, int32_t subType, const int32_t* words, int count,
                                 const char* text1, const char* text2, bool expectResponse) {
  RequestPacket request;
  request.type = type;
  request.subType = subType;
  for (int i = 0; words && i < count && i < REQUEST_MAX_WORDS; ++i) request.words[i] = words[i];
  if (text1) request.text1 = text1;
  if (text2) request.text2 = text2;
  const auto bytes = request.Encode();
  if (!line_.WriteData(bytes.data(), REQUEST_PACKET_SIZE)) return REQUEST_FAILED;
  if (!expectResponse) return 0;

  uint8_t answer[RESPONSE_PACKET_SIZE] = {};
  if (!line_.ReadData(answer, RESPONSE_PACKET_SIZE)) return REQUEST_FAILED;
  const ResponsePacket response = ResponsePacket::Decode(answer);
  if (response.id != RESPONSE_FAILURE_ID && response.id == type) return response.value;

  if (response.id == RESPONSE_FAILURE_ID && type == RQT_XMIT && subType == RQT_XMIT_END) {
    ReportFailCode(response.value);
  }
  reports_.Failf(FAIL_REQUEST_ID, "Rqt ID: %d Fail. (Res: 0x%08X)", type,
                  static_cast<uint32_t>(response.id));
  return REQUEST_FAILED;
}

int32_t PacketLayer::SendRequest(int32_t type, int32_t subType,
                                 std::initializer_list<int32_t> words, bool expectResponse) {
  return SendRequest(type, subType, words.begin(), static_cast<int>(words.size()), nullptr, nullptr,
                     expectResponse);
}

bool PacketLayer::ReadPieces(int32_t type, int32_t pieceSubType, int32_t endSubType,
                             std::vector<uint8_t>* record) {
  const auto size = static_cast<int32_t>(record->size());
  for (int32_t piece = 0; piece <= (size - 1) / PIECE_SIZE; ++piece) {
    const int32_t at = piece * PIECE_SIZE;
    if (SendRequest(type, pieceSubType, {piece}, false) == REQUEST_FAILED ||
        !line_.ReadData(&(*record)[static_cast<size_t>(at)], std::min(PIECE_SIZE, size - at))) {
      reports_.Fail(FAIL_REQUEST, LoadString(IDS_WRITE_COMPLETION_FAILED));
      return false;
    }
  }
  if (SendRequest(type, endSubType) == REQUEST_FAILED) {
    reports_.Fail(FAIL_REQUEST, LoadString(IDS_WRITE_COMPLETION_FAILED));
    return false;
  }
  return true;
}

bool PacketLayer::ReportFailCode(int32_t code) {
  switch (code) {
    case BL_FAIL_WP:
      reports_.Fail(code, LoadString(IDS_FAIL_WP));
      break;
    case BL_FAIL_ERASE:
      reports_.Fail(code, LoadString(IDS_FAIL_ERASE));
      break;
    case BL_FAIL_WRITE:
      reports_.Fail(code, LoadString(IDS_FAIL_WRITE));
      break;
    case BL_FAIL_AUTH:
      reports_.Fail(code, LoadString(IDS_FAIL_AUTH));
      break;
    case BL_FAIL_SIZE:
      reports_.Fail(code, LoadString(IDS_FAIL_SIZE));
      break;
    case BL_FAIL_EXT4:
      reports_.Fail(code, LoadString(IDS_FAIL_EXT4));
      break;
    case REQUEST_FAILED:
      reports_.Fail(FAIL_REQUEST, LoadString(IDS_WRITE_COMPLETION_FAILED));
      break;
    default:
      reports_.Fail(0, "FAIL!");
      break;
  }
  return false;
}

bool PacketLayer::XmitData(const void* data, int length,
                           const std::function<bool()>& whileBlocked) {
  if (!line_.WriteWhileWaiting(data, length, whileBlocked)) {
    line_.ClosePort();
    reports_.Notef("__XmitData_Write");
    return false;
  }
  uint8_t ack[RESPONSE_PACKET_SIZE];
  if (!line_.ReadData(ack, RESPONSE_PACKET_SIZE)) {
    line_.ClosePort();
    reports_.Notef("__XmitData_Read");
    return false;
  }
  return true;
}

namespace {

// How much of the next packet the stream form prepares between two tries of the line.
constexpr size_t STREAM_PIECE = 65536;

}  // namespace

// The packet buffer: a size the memory cannot hold fails this worker alone.
bool PacketLayer::AllocatePacket(std::vector<uint8_t>* buffer) {
  try {
    buffer->assign(static_cast<size_t>(packetSize_), 0);
    return true;
  } catch (const std::bad_alloc&) {
    reports_.Fail(FAIL_OUT_OF_MEMORY, LoadString(IDS_OUT_OF_MEMORY));
    reports_.Notef("No memory for a packet buffer of %d bytes", packetSize_);
    return false;
  }
}

bool PacketLayer::SendFileData(int fd, uint32_t count, const std::string& progressText) {
  const size_t packet = static_cast<size_t>(packetSize_);
  std::vector<uint8_t> buffer;
  if (!AllocatePacket(&buffer)) return false;
  uint32_t done = 0;
  while (done < count) {
    const size_t chunk = std::min<size_t>(count - done, packet);
    // A read returns what the file gives at once; only the whole chunk is ever sent, so no
    // packet carries a gap of zeros inside an image.
    const ssize_t got = ReadFully(fd, buffer.data(), chunk);
    if (got != static_cast<ssize_t>(chunk)) {
      reports_.Notef("%s: the package ends %u bytes early", progressText.c_str(),
                      count - done - static_cast<uint32_t>(std::max<ssize_t>(got, 0)));
      return false;
    }
    std::memset(buffer.data() + chunk, 0, packet - chunk);
    if (!XmitData(buffer.data(), static_cast<int>(packet))) return false;
    done += static_cast<uint32_t>(chunk);
    sentBytes_ += chunk;
    reports_.ShowProgress(sentBytes_, progressText);
  }
  return true;
}

// The stream form prepares the next packet while the line is still taking the current one,
// so that inflating costs no time of its own on the wire. Nothing is sent before the packet
// ahead of it has been acknowledged, and nothing the stream did not produce is ever sent.
bool PacketLayer::SendFileData(ByteStream& stream, uint32_t count,
                               const std::string& progressText) {
  const size_t packet = static_cast<size_t>(packetSize_);
  std::vector<uint8_t> current, next;
  if (!AllocatePacket(&current) || !AllocatePacket(&next)) return false;
  size_t chunk = std::min<size_t>(count, packet);
  if (count != 0 && !stream.ReadExact(current.data(), chunk)) {
    reports_.Note(progressText + ": " + stream.FailureText());
    return false;
  }
  uint32_t done = 0;
  while (done < count) {
    std::memset(current.data() + chunk, 0, packet - chunk);
    const size_t nextChunk = std::min<size_t>(count - done - chunk, packet);
    size_t prepared = 0;
    bool streamOk = true;
    auto prepare = [&] {
      if (!streamOk || prepared == nextChunk) return false;
      const size_t piece = std::min(STREAM_PIECE, nextChunk - prepared);
      streamOk = stream.ReadExact(next.data() + prepared, piece);
      prepared += streamOk ? piece : 0;
      return streamOk;
    };
    if (!XmitData(current.data(), static_cast<int>(packet), prepare)) return false;
    done += static_cast<uint32_t>(chunk);
    sentBytes_ += chunk;
    reports_.ShowProgress(sentBytes_, progressText);
    while (prepare()) {
    }
    if (!streamOk) {
      reports_.Note(progressText + ": " + stream.FailureText());
      return false;
    }
    std::swap(current, next);
    chunk = nextChunk;
  }
  return true;
}

}  // namespace mirk3
