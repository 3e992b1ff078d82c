// The device side of the download protocol, as one phone's boot loader serves it over its
// pseudo-terminal: it waits for the "MIRK" greeting and answers "TASH", then answers each
// 1024-byte request with an 8-byte response {request type, value}, except the two piece
// requests (101/2 while a table is read, 105/1), which are answered with the raw piece. Raw
// data (a partition table being written, file-data packets) is acknowledged with 8 bytes.
//
// Requests it does not know (type or sub-type), and requests out of their order (a piece
// index past the end, table data with no upload begun), get the failure response (-1, -1).
// An end-of-sequence request for a partition id that its table does not have gets (-1, -4),
// one that claims more bytes than arrived gets (-1, -6). A host that closes the port takes its
// session with it: the phone waits for a new greeting; a greeting where a request would
// start also begins a new session.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "devsim/farm_config.h"
#include "devsim/partition_store.h"
#include "devsim/pty_line.h"
#include "devsim/request_trace.h"
#include "wire/pit_record.h"
#include "wire/request_packet.h"
#include "wire/request_table.h"

namespace mirk3::devsim {

// Everything one phone is, resolved from the farm's configuration.
struct PhoneSetup {
  int port = 0;
  int protocol = DEFAULT_PROTOCOL;
  std::vector<uint8_t> pit;         // the table it starts with
  std::vector<uint8_t> deviceInfo;  // the record it hands out
  int32_t deviceInfoSize = 0;       // the length it announces for the record
  PortFaults faults;
};

class BootLoader {
 public:
  BootLoader(PhoneSetup setup, PtyLine* line, PartitionStore* store, RequestTrace* trace);

  // Serves hosts until the phone is stopped, reboots or vanishes.
  void Serve();
  // The phone's current partition table; callable from any thread.
  std::vector<uint8_t> Pit() const;

 private:
  enum class Flow { Next, HostLeft, End };
  enum class PitMode { Idle, UploadBegun, Uploaded, Download };
  struct Session {
    int32_t packetSize = DEFAULT_PACKET_SIZE;
    PitMode pit = PitMode::Idle;
    std::vector<uint8_t> upload;
    bool deviceInfo = false;
    uint64_t sequenceBytes = 0;  // file data of the open sequence, up to its announced length
  };

  static Flow FlowOf(Io io);
  Flow AwaitGreeting();
  Flow AnswerGreeting();
  Flow Converse();
  Flow Silence();
  Flow ReadAny(uint8_t* chunk, size_t size, size_t* got);
  Flow Respond(int32_t id, int32_t value);
  Flow Fail(int32_t code) { return Respond(RESPONSE_FAILURE_ID, code); }
  const FailRule* InjectedFailure(const RequestPacket& request);
  void Abandon(const RequestPacket& request);
  Flow Handle(const RequestPacket& request);

  Flow HandleInit(const RequestPacket& request);
  Flow HandlePit(const RequestPacket& request);
  Flow ReceivePitUpload(int32_t length);
  Flow EndPitTransfer(const RequestPacket& request);
  Flow SendPiece(const std::vector<uint8_t>& source, int64_t size, int32_t index);
  Flow HandleXmit(const RequestPacket& request);
  Flow ReceiveSequence(uint32_t announced);
  Flow EndSequence(const RequestPacket& request);
  Flow HandleClose(const RequestPacket& request);
  Flow HandleDeviceInfo(const RequestPacket& request);
  Flow Vanish();

  PhoneSetup setup_;
  PtyLine* line_;
  PartitionStore* store_;
  RequestTrace* trace_;
  Session session_;
  uint64_t requestsTaken_ = 0;  // over the phone's life, for the silence fault
  uint64_t dataBytes_ = 0;      // file data over the phone's life, for the vanish fault
  std::vector<int> failOccurrences_;
  std::vector<uint8_t> scratch_;  // receives file-data packets

  mutable std::mutex pitMutex_;
  std::vector<uint8_t> pit_;
  PitTable table_;
};

}  // namespace mirk3::devsim
