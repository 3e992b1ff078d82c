// File transmission: every placed member of a chosen slot goes to the boot loader in sequences;
// each sequence is begun, announced, streamed as fixed-size packets and closed with an
// end-of-sequence request that says which partition the data belongs to. A modem package sent
// from its file has sequences of its own; every other member is sent in the phone's.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/chosen_packages.h"
#include "engine/packet_layer.h"
#include "engine/report_channel.h"
#include "packages/download_entry.h"
#include "packages/member_stream.h"
#include "wire/end_of_sequence.h"

namespace mirk3 {

// A download's members as the device's partition table placed them, by slot.
using PlacedMembers = std::array<std::vector<DownloadEntry>, SLOT_COUNT>;

class MemberSender {
 public:
  // The layer, channel and packages must outlive the sender.
  MemberSender(PacketLayer& packets, ReportChannel& reports, const ChosenPackages& packages);

  // Every member can be sent to this phone (it has a partition, and the partition a transfer
  // size); logs each that cannot, and fails once for all of them.
  bool CheckSendable(const PlacedMembers& placed);
  // The members of `slot`, from its package file or, in One Click mode, from the program.
  bool SendSlot(int slot, const std::vector<DownloadEntry>& members);

 private:
  // What tells a member's sequences to the phone from a modem package's: the length of a
  // sequence, what progress names, the end request's layout and what is said around it.
  struct SequenceStyle;
  static const SequenceStyle PHONE_SEQUENCES;
  static const SequenceStyle MODEM_SEQUENCES;

  // One member in sequences of `style`; read from `fd` when there is no `stream`.
  bool SendEntry(int fd, const DownloadEntry& entry, ByteStream* stream, int slot,
                 const SequenceStyle& style);
  bool SendSequence(int fd, const DownloadEntry& entry, ByteStream* stream,
                    const SequenceStyle& style, uint32_t length, bool last);
  // The end-of-sequence request, after which the boot loader writes the sequence.
  int32_t SendEndOfSequence(const EndOfSequence& end);
  // A One Click member's bytes: inflated for compressed slots, as stored for the others.
  std::unique_ptr<ByteStream> OpenMemberStream(int fd, int slot, const DownloadEntry& entry);
  uint64_t MemberLength(const DownloadEntry& entry, int slot) const;
  // Why `entry` of `slot` cannot be sent to this phone; empty when it can.
  std::string EntryProblem(const DownloadEntry& entry, int slot) const;

  PacketLayer& packets_;
  ReportChannel& reports_;
  const ChosenPackages packages_;
};

}  // namespace mirk3
