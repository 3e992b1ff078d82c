#include "engine/member_sender.h"

#include <fcntl.h>
#include <unistd.h>

#include <thread>

#include "base/file.h"
#include "base/text.h"
#include "engine/string_table.h"
#include "packages/inflate_reader.h"
#include "packages/plain_member_stream.h"
#include "wire/end_of_sequence.h"
#include "wire/request_packet.h"
#include "wire/sequence_size.h"

namespace mirk3 {
namespace {

constexpr int LINE_FIRMWARE_OPEN = 2023;
// How much of a phone member one sequence carries; 0 when its partition gives no usable size.
uint32_t SequenceSizeOf(const DownloadEntry& entry) {
  return PhoneSequenceSize(entry.storageKind, entry.attributes, entry.blockParam);
}

int32_t Announced(uint32_t length) { return static_cast<int32_t>(AnnouncedSequenceLength(length)); }

}  // namespace

// The phone layout carries the partition's kinds and names the partition in progress; a
// modem package's sequences are 100 MiB whatever its partition, and its boot loader writes
// each for minutes, which the operator is told.
struct MemberSender::SequenceStyle {
  int32_t layout;                                  // of the end-of-sequence request
  uint32_t (*sequenceSize)(const DownloadEntry&);  // 0: no usable size
  bool progressByFileName;                         // else by partition name
  std::vector<const char*> afterData;              // log lines once a sequence's data is sent
  const char* afterEnd;                            // log line once the end request is done
  // A refused end request is reported by the packet layer; whether the write failure is
  // reported after it, or only when nothing was (a line that timed out or went away).
  bool reportAfterRefusal;
};

const MemberSender::SequenceStyle MemberSender::PHONE_SEQUENCES = {
    EOS_LAYOUT_PHONE, SequenceSizeOf, false, {}, nullptr, true};
const MemberSender::SequenceStyle MemberSender::MODEM_SEQUENCES = {
    EOS_LAYOUT_MODEM,
    [](const DownloadEntry&) { return MODEM_SEQUENCE_SIZE; },
    true,
    {"Transmission Complete.. ", "Now Writing.. Please wait about 2 minutes"},
    "Receive Response from boot-loader",
    false};

// Why a member cannot go to this phone. A member of 0 bytes sends nothing and needs nothing.
std::string MemberSender::EntryProblem(const DownloadEntry& entry, int slot) const {
  if (MemberLength(entry, slot) == 0) return "";
  const std::string fileName(FieldText(entry.fileName, sizeof entry.fileName));
  // The boot loader would not know where to write it.
  if (!entry.Matched()) return fileName + ": the device's partition table has no partition for it";
  // The modem routine sends fixed sequences; the phone routine's depend on the storage kind,
  // and guessing one could make the boot loader write past what the partition expects.
  const bool modem = !packages_.OneClick() && slot == CP;
  if (!modem && SequenceSizeOf(entry) == 0) {
    return Format("%s: no transfer size for storage kind %u", fileName.c_str(), entry.storageKind);
  }
  return "";
}

// A member's length on the wire: inflated for compressed One Click slots, as stored otherwise.
uint64_t MemberSender::MemberLength(const DownloadEntry& entry, int slot) const {
  const bool compressed =
      packages_.OneClick() && packages_.trailer->slots[slot].type == ONECLICK_TAR_DEFLATED;
  return compressed ? entry.inflatedSize : entry.size;
}

MemberSender::MemberSender(PacketLayer& packets, ReportChannel& reports,
                           const ChosenPackages& packages)
    : packets_(packets), reports_(reports), packages_(packages) {}

bool MemberSender::CheckSendable(const PlacedMembers& placed) {
  int refused = 0;
  for (int slot = 0; slot < SLOT_COUNT; ++slot) {
    for (const DownloadEntry& entry : placed[slot]) {
      const std::string problem = EntryProblem(entry, slot);
      if (problem.empty()) continue;
      reports_.Note(problem);
      ++refused;
    }
  }
  if (refused == 0) return true;
  reports_.Failf(FAIL_NO_PIT, "FAIL! %d member%s cannot be written to this phone",
                  refused, refused == 1 ? "" : "s");
  return false;
}

bool MemberSender::SendSlot(int slot, const std::vector<DownloadEntry>& members) {
  const int fd = packages_.programFd.Get();
  if (packages_.OneClick()) {
    for (const DownloadEntry& entry : members) {
      auto stream = OpenMemberStream(fd, slot, entry);
      if (!stream || !SendEntry(fd, entry, stream.get(), slot, PHONE_SEQUENCES)) return false;
      if (!stream->Finish()) {
        // The member's data did not end where its header says: its partition may hold
        // a wrong image, so the phone does not pass.
        reports_.Fail(FAIL_DATA_TRANSFER,
                            std::string(FieldText(entry.fileName, sizeof entry.fileName)) + ": " +
                                stream->FailureText());
        return false;
      }
    }
    return true;
  }
  const Result<OpenedFile> file = OpenRegularFile(packages_.options.slotPath[slot]);
  if (!file) {
    reports_.Failf(FAIL_FILE_OPEN, "%s (Line: %d)", LoadString(IDS_FILE_OPEN_FAILED),
                    LINE_FIRMWARE_OPEN);
    reports_.Note(DescribeFileProblem(packages_.options.slotPath[slot], file.error().text));
    return false;
  }
  const SequenceStyle& style = slot == CP ? MODEM_SEQUENCES : PHONE_SEQUENCES;
  for (const DownloadEntry& entry : members) {
    if (!SendEntry(file->fd.Get(), entry, nullptr, slot, style)) return false;
  }
  return true;
}

// One member in sequences: each begun, announced, sent and ended. Without a stream the member
// is read from `fd`.
bool MemberSender::SendEntry(int fd, const DownloadEntry& entry, ByteStream* stream, int slot,
                             const SequenceStyle& style) {
  const uint64_t length = MemberLength(entry, slot);
  const uint32_t sequence = style.sequenceSize(entry);
  reports_.Note(std::string(FieldText(entry.fileName, sizeof entry.fileName)));
  std::this_thread::yield();
  // Checked for every member before the first was sent; kept here so that no member is ever
  // sent without a partition or in sequences of 0 bytes.
  if (const std::string problem = EntryProblem(entry, slot); !problem.empty()) {
    reports_.Fail(FAIL_DATA_TRANSFER, problem);
    return false;
  }
  if (!stream && ::lseek(fd, static_cast<off_t>(entry.dataOffset), SEEK_SET) < 0) {
    reports_.Failf(FAIL_FILE_OPEN, "%s (Line: %d)", LoadString(IDS_FILE_OPEN_FAILED),
                    LINE_FIRMWARE_OPEN);
    return false;
  }
  for (uint64_t done = 0; done < length;) {
    const auto n = static_cast<uint32_t>(std::min<uint64_t>(length - done, sequence));
    done += n;
    if (!SendSequence(fd, entry, stream, style, n, done == length)) return false;
  }
  return true;
}

bool MemberSender::SendSequence(int fd, const DownloadEntry& entry, ByteStream* stream,
                                const SequenceStyle& style, uint32_t length, bool last) {
  if (packets_.SendRequest(RQT_XMIT, RQT_XMIT_BEGIN) == REQUEST_FAILED ||
      packets_.SendRequest(RQT_XMIT, RQT_XMIT_ANNOUNCE, {Announced(length)}) == REQUEST_FAILED) {
    reports_.Fail(FAIL_REQUEST, LoadString(IDS_WRITE_COMPLETION_FAILED));
    return false;
  }
  const std::string progress(style.progressByFileName
                                 ? FieldText(entry.fileName, sizeof entry.fileName)
                                 : FieldText(entry.partitionName, sizeof entry.partitionName));
  const bool sent = stream ? packets_.SendFileData(*stream, length, progress)
                           : packets_.SendFileData(fd, length, progress);
  if (!sent) {
    // A stream that failed says why; the line's own failures are logged by the packet layer.
    reports_.Fail(FAIL_DATA_TRANSFER, LoadString(IDS_WRITE_COMPLETION_FAILED));
    return false;
  }
  for (const char* line : style.afterData) reports_.Note(line);
  const EndOfSequence end{.layout = style.layout,
                          .length = length,
                          .entryKind = entry.entryKind,
                          .storageKind = entry.storageKind,
                          .partitionId = entry.partitionId,
                          .last = last,
                          .efsClear = packages_.options.PhoneEFSClear,
                          .bootUpdate = packages_.options.PhoneBootUpdate};
  const int shownBefore = reports_.FailuresShown();
  const int32_t result = SendEndOfSequence(end);
  if (style.afterEnd) reports_.Note(style.afterEnd);
  if (result != REQUEST_FAILED) return true;
  // The packet layer may have said why already.
  if (style.reportAfterRefusal || reports_.FailuresShown() == shownBefore) {
    reports_.Fail(FAIL_REQUEST, LoadString(IDS_WRITE_COMPLETION_FAILED));
  }
  return false;
}

int32_t MemberSender::SendEndOfSequence(const EndOfSequence& end) {
  const RequestWords words = end.Words();
  return packets_.SendRequest(RQT_XMIT, RQT_XMIT_END, words.data(), REQUEST_MAX_WORDS, nullptr,
                              nullptr, true);
}

// The bytes of a One Click member: compressed slots are inflated on their way to the phone,
// plain slots are read as stored.
std::unique_ptr<ByteStream> MemberSender::OpenMemberStream(int fd, int slot,
                                                           const DownloadEntry& entry) {
  if (packages_.trailer->slots[slot].type != ONECLICK_TAR_DEFLATED) {
    return std::make_unique<PlainMemberStream>(fd, entry.dataOffset, entry.size);
  }
  auto reader = std::make_unique<CInflateReader>();
  if (!reader->Begin(fd, entry.dataOffset, entry.size, entry.inflatedSize)) {
    reports_.Fail(FAIL_DATA_TRANSFER,
                        std::string(FieldText(entry.fileName, sizeof entry.fileName)) + ": " +
                            reader->FailureText());
    return nullptr;
  }
  return reader;
}

}  // namespace mirk3
