// Connection setup (port and handshake) and initialization (protocol version, packet size,
// total size, and the lock, erase and T-flash options).
#include <cstring>

#include "engine/download_engine.h"
#include "engine/string_table.h"

namespace mirk3 {

bool CDownloadEngine::SetupConnection() {
  Report(WM_DL_LOG, 0, "SetupConnection..");
  if (!line_.OpenPort(port_)) {
    ReportText(WM_DL_FAIL, FAIL_PORT_OPEN, LoadString(IDS_PORT_OPEN_FAILED));
    return false;
  }
  if (!line_.WriteData(HANDSHAKE_HOST, HANDSHAKE_LENGTH, nullptr, pace_)) {
    ReportText(WM_DL_FAIL, FAIL_REQUEST, LoadString(IDS_WRITE_COMPLETION_FAILED));
    return false;
  }
  char answer[HANDSHAKE_LENGTH + 1] = {};
  if (!line_.ReadData(answer, HANDSHAKE_LENGTH, nullptr, pace_)) {
    ReportText(WM_DL_FAIL, FAIL_REQUEST, LoadString(IDS_WRITE_COMPLETION_FAILED));
    return false;
  }
  // A wrong answer fails the port without a failure report of its own.
  return std::memcmp(answer, HANDSHAKE_DEVICE, HANDSHAKE_LENGTH) == 0;
}

bool CDownloadEngine::InitializationStep() {
  Report(WM_DL_LOG, 0, "Initialzation..");
  protocolVersion_ = HOST_PROTOCOL_VERSION;
  // A failed exchange reads as version 0x8000; the packet layer has reported it already.
  const int32_t answer = SendRequest(RQT_INIT, RQT_INIT_BEGIN, {protocolVersion_});
  protocolVersion_ = static_cast<int32_t>((static_cast<uint32_t>(answer) & 0xFFFF0000u) >> 16);

  if (protocolVersion_ >= 2) {
    packetSize_ = options_.PacketSize >= DEFAULT_PACKET_SIZE ? options_.PacketSize
                                                             : NEGOTIATED_FALLBACK_PACKET_SIZE;
    SendRequest(RQT_INIT, RQT_INIT_PACKETSIZE, {packetSize_});
  }
  resetDelay_ = options_.FResetTime ? options_.FactoryResetTime : 1;

  if (!options_.deviceInfo) {
    const uint64_t divisor = 0xFFFFFFFFull;  // not 2^32: the boot loader splits it this way
    SendRequest(RQT_INIT, RQT_INIT_TOTALSIZE,
                {static_cast<int32_t>(static_cast<uint32_t>(packageTotal_ % divisor)),
                 static_cast<int32_t>(static_cast<uint32_t>(packageTotal_ / divisor))});
  }
  if (options_.FlashLock) {
    Report(WM_DL_LOG, 0, "Send lock information..");
    if (SendRequest(RQT_INIT, RQT_INIT_LOCK, {1}) == REQUEST_FAILED) {
      ReportText(WM_DL_FAIL, FAIL_LOCK, LoadString(IDS_LOCK_FAILED));
      return false;
    }
  }
  if (options_.NandErase) {
    Report(WM_DL_LOG, 0, "Erase...");
    if (SendRequest(RQT_INIT, RQT_INIT_ERASE) == REQUEST_FAILED) {
      ReportText(WM_DL_FAIL, FAIL_ERASE, LoadString(IDS_WRITE_COMPLETION_FAILED));
      return false;
    }
  }
  if (options_.TFlash) {
    Report(WM_DL_LOG, 0, "T Flash...");
    if (SendRequest(RQT_INIT, RQT_INIT_TFLASH) == REQUEST_FAILED) {
      ReportText(WM_DL_FAIL, FAIL_TFLASH, LoadString(IDS_WRITE_COMPLETION_FAILED));
      return false;
    }
  }
  return true;
}

}  // namespace mirk3
