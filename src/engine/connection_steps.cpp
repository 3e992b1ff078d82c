// Connection setup (port and handshake), initialization (protocol version, packet size, total
// size) and, once the device-info check has passed, the lock, erase and T-flash options.
#include <cstring>
#include <string>

#include "base/text.h"
#include "engine/download_engine.h"
#include "engine/string_table.h"
#include "wire/handshake.h"
#include "wire/sequence_size.h"

namespace mirk3 {

bool CDownloadEngine::SetupConnection() {
  reports_.Notef("SetupConnection..");
  // A phone still on its way shows on the slot while the line waits for it.
  const auto waiting = [this](int attempt, int attempts, LineError why) {
    const std::string reason = why == LineError::NotFound ? "" : ": " + LineErrorText(why);
    reports_.ShowProgress(0, Format("waiting for %s (%d/%d)%s", PortName(port_).c_str(), attempt,
                                    attempts, reason.c_str()));
  };
  if (!line_.OpenPort(port_, waiting)) {
    reports_.Fail(FAIL_PORT_OPEN, LoadString(IDS_PORT_OPEN_FAILED));
    reports_.Note(line_.OpenProblem());
    return false;
  }
  if (!line_.WriteData(HANDSHAKE_HOST, HANDSHAKE_LENGTH)) {
    reports_.Fail(FAIL_REQUEST, LoadString(IDS_WRITE_COMPLETION_FAILED));
    return false;
  }
  char answer[HANDSHAKE_LENGTH + 1] = {};
  if (!line_.ReadData(answer, HANDSHAKE_LENGTH)) {
    reports_.Fail(FAIL_REQUEST, LoadString(IDS_WRITE_COMPLETION_FAILED));
    return false;
  }
  if (std::memcmp(answer, HANDSHAKE_DEVICE, HANDSHAKE_LENGTH) == 0) return true;
  // Whatever answered is not a boot loader in download mode: say what it said.
  std::string heard;
  for (int i = 0; i < HANDSHAKE_LENGTH; ++i) {
    heard += Format("%s%02X", i ? " " : "", static_cast<unsigned char>(answer[i]));
  }
  reports_.Failf(FAIL_REQUEST, "FAIL! The phone answered the greeting with %s, not %s",
         heard.c_str(), HANDSHAKE_DEVICE);
  return false;
}

bool CDownloadEngine::InitializationStep(const DownloadPlan& plan) {
  reports_.Notef("Initialzation..");
  protocolVersion_ = HOST_PROTOCOL_VERSION;
  // A failed exchange reads as version 0x8000; the packet layer has reported it already.
  const int32_t answer = packets_.SendRequest(RQT_INIT, RQT_INIT_BEGIN, {protocolVersion_});
  protocolVersion_ = ProtocolVersionOfAnswer(answer);

  if (protocolVersion_ >= PROTOCOL_NEGOTIATES_PACKET_SIZE) NegotiatePacketSize();
  resetDelay_ = options_.FResetTime ? options_.FactoryResetTime : 1;

  if (!options_.deviceInfo) {
    const uint64_t total = plan.packageTotal;
    packets_.SendRequest(RQT_INIT, RQT_INIT_TOTALSIZE,
                         {static_cast<int32_t>(static_cast<uint32_t>(total % TOTAL_SIZE_DIVISOR)),
                          static_cast<int32_t>(static_cast<uint32_t>(total / TOTAL_SIZE_DIVISOR))});
  }
  return true;
}

// Only packets that divide the announced sequence lengths (multiples of 131072) keep the
// phone's count of packets in step with the host's; a refused size leaves the phone at the
// size it started with, and the host must then send that size too.
void CDownloadEngine::NegotiatePacketSize() {
  const int32_t asked = options_.PacketSize;
  int32_t size = asked >= DEFAULT_PACKET_SIZE ? asked : NEGOTIATED_FALLBACK_PACKET_SIZE;
  size -= size % static_cast<int32_t>(SEQUENCE_ALIGN);
  if (packets_.SendRequest(RQT_INIT, RQT_INIT_PACKETSIZE, {size}) == REQUEST_FAILED) {
    reports_.Notef("The phone refused packets of %d bytes: packets of %d bytes", size,
           packets_.PacketSize());
    return;
  }
  packets_.SetPacketSize(size);
  // The operator sees the size used whenever it is not the one the settings ask for.
  if (size != asked) reports_.Notef("Packets of %d bytes (%d asked)", size, asked);
}

bool CDownloadEngine::OptionRequestsStep() {
  if (options_.FlashLock) {
    reports_.Notef("Send lock information..");
    if (packets_.SendRequest(RQT_INIT, RQT_INIT_LOCK, {1}) == REQUEST_FAILED) {
      reports_.Fail(FAIL_LOCK, LoadString(IDS_LOCK_FAILED));
      return false;
    }
  }
  if (options_.NandErase) {
    reports_.Notef("Erase...");
    if (packets_.SendRequest(RQT_INIT, RQT_INIT_ERASE) == REQUEST_FAILED) {
      reports_.Fail(FAIL_ERASE, LoadString(IDS_WRITE_COMPLETION_FAILED));
      return false;
    }
  }
  if (options_.TFlash) {
    reports_.Notef("T Flash...");
    if (packets_.SendRequest(RQT_INIT, RQT_INIT_TFLASH) == REQUEST_FAILED) {
      reports_.Fail(FAIL_TFLASH, LoadString(IDS_WRITE_COMPLETION_FAILED));
      return false;
    }
  }
  return true;
}

}  // namespace mirk3
