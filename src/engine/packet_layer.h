// Everything the engine says to a boot loader after the greeting: 1024-byte requests answered
// by 8-byte responses, and raw data packets answered by 8-byte acknowledgements, one in flight
// at a time. The layer owns the packet size in use and the count of file bytes sent, reports
// the boot loader's refusals, and speaks over any ByteLine.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "engine/report_channel.h"
#include "packages/member_stream.h"
#include "serial/byte_line.h"
#include "wire/request_table.h"

namespace mirk3 {

// What SendRequest returns for every failed exchange: a write or read that failed, or an
// answer that is not the request's.
inline constexpr int32_t REQUEST_FAILED = INT32_MIN;  // 0x80000000

class PacketLayer {
 public:
  PacketLayer(ByteLine& line, ReportChannel& reports) : line_(line), reports_(reports) {}

  // Sends one request; the response's value, 0 when no response is expected, or
  // REQUEST_FAILED (the boot loader's refusal is reported here; a line failure is not).
  int32_t SendRequest(int32_t type, int32_t subType, const int32_t* words, int count,
                      const char* text1, const char* text2, bool expectResponse);
  int32_t SendRequest(int32_t type, int32_t subType, std::initializer_list<int32_t> words = {},
                      bool expectResponse = true);
  // One raw block and its acknowledgement. A failure closes the line and logs which half
  // failed. `whileBlocked` runs while the line cannot take more bytes (see ByteLine).
  bool XmitData(const void* data, int length, const std::function<bool()>& whileBlocked = {});
  // `count` bytes of a file from its current position, or of a stream, in packets of the
  // packet size; progress is reported after every packet.
  bool SendFileData(int fd, uint32_t count, const std::string& progressText);
  bool SendFileData(ByteStream& stream, uint32_t count, const std::string& progressText);
  // A record the boot loader hands out in pieces of 500 bytes, each asked for with
  // `type`/`pieceSubType` and its index, then the `endSubType` request. `record` holds its
  // length on the way in and its bytes on the way out; a failure is reported.
  bool ReadPieces(int32_t type, int32_t pieceSubType, int32_t endSubType,
                  std::vector<uint8_t>* record);
  // One failure report for a boot loader's failure code; always false.
  bool ReportFailCode(int32_t code);

  int32_t PacketSize() const { return packetSize_; }
  // The size the boot loader agreed to (initialization negotiates it).
  void SetPacketSize(int32_t size) { packetSize_ = size; }
  // File bytes sent so far, over every file of the download.
  uint64_t SentBytes() const { return sentBytes_; }

 private:
  bool AllocatePacket(std::vector<uint8_t>* buffer);

  ByteLine& line_;
  ReportChannel& reports_;
  int32_t packetSize_ = DEFAULT_PACKET_SIZE;
  uint64_t sentBytes_ = 0;
};

}  // namespace mirk3
