// File transmission: every member of every chosen slot goes to the boot loader in sequences;
// each sequence is begun, announced, streamed as fixed-size packets and closed with an
// end-of-sequence request that says which partition the data belongs to.
#include <fcntl.h>
#include <unistd.h>

#include <thread>

#include "base/text.h"
#include "engine/download_engine.h"
#include "engine/string_table.h"

namespace mirk3 {
namespace {

constexpr int LINE_FIRMWARE_OPEN = 2023;
constexpr uint32_t MODEM_SEQUENCE_SIZE = 104857600;  // 100 MiB

// How much of a phone member one sequence carries, by the partition's storage kind; 0 when
// the kind gives no usable size.
uint32_t PhoneSequenceSize(const DownloadEntry& entry) {
  switch (entry.storageKind) {
    case 0: {
      const uint32_t k = entry.blockParam / 128;
      if (k == 0) return 0;
      const uint32_t units = entry.blockParam + (entry.attributes == 1 ? 4 * k : 0);
      return (units * 1024u) * (800u / k);
    }
    case 1:
    case 2:
    case 8:
      return 31457280;
    case 6:
      return 4194304;
    case 7:
      return 1048576;
    default:
      return 0;
  }
}

int32_t Announced(uint32_t length) {
  return static_cast<int32_t>((static_cast<uint64_t>(length) + SEQUENCE_ALIGN - 1) &
                              ~static_cast<uint64_t>(SEQUENCE_ALIGN - 1));
}

}  // namespace

// A member's length on the wire: inflated for compressed One Click slots, as stored otherwise.
uint64_t CDownloadEngine::MemberLength(const DownloadEntry& entry, int slot) const {
  const bool compressed = oneClickMode_ && trailer_.slots[slot].type == ONECLICK_TAR_DEFLATED;
  return compressed ? entry.inflatedSize : entry.size;
}

bool CDownloadEngine::FirmwareUpdateStep() {
  ReportText(WM_DL_START, static_cast<int64_t>(packageTotal_), "Firmware update start..");
  Report(WM_DL_LOG, 0, "SingleDownload.");
  for (int slot = 0; slot < SLOT_COUNT; ++slot) {
    if (oneClickMode_ ? !trailer_.slots[slot].Present() : !options_.slotEnabled[slot]) continue;
    if (!SendSlot(oneClickMode_ ? ownExecutableFd_ : -1, slot)) return false;
  }
  return true;
}

bool CDownloadEngine::SendSlot(int fd, int slot) {
  if (oneClickMode_) {
    for (const auto& entry : fileLists_[slot]) {
      auto stream = OpenMemberStream(fd, slot, *entry);
      if (!stream || !SendPhoneEntry(fd, *entry, stream.get(), MemberLength(*entry, slot))) {
        return false;
      }
      if (!stream->Finish()) {
        // The member's data did not end where its header says: its partition may hold
        // a wrong image, so the phone does not pass.
        ReportText(WM_DL_FAIL, FAIL_DATA_TRANSFER,
                   std::string(FieldText(entry->fileName, sizeof entry->fileName)) + ": " +
                       stream->FailureText());
        return false;
      }
    }
    return true;
  }
  const int file = ::open(options_.slotPath[slot].c_str(), O_RDONLY | O_CLOEXEC);
  if (file < 0) {
    Report(WM_DL_FAIL, FAIL_FILE_OPEN, "%s (Line: %d)", LoadString(IDS_FILE_OPEN_FAILED),
           LINE_FIRMWARE_OPEN);
    return false;
  }
  bool ok = true;
  for (const auto& entry : fileLists_[slot]) {
    ok = slot == CP ? SendModemEntry(file, *entry)
                    : SendPhoneEntry(file, *entry, nullptr, MemberLength(*entry, slot));
    if (!ok) break;
  }
  ::close(file);
  return ok;
}

// One member in sequences, phone layout. Without a stream the member is read from `fd`.
bool CDownloadEngine::SendPhoneEntry(int fd, const DownloadEntry& entry, CByteStream* stream,
                                     uint64_t length) {
  const uint32_t sequence = PhoneSequenceSize(entry);
  const std::string fileName(FieldText(entry.fileName, sizeof entry.fileName));
  const std::string progress(FieldText(entry.partitionName, sizeof entry.partitionName));
  ReportText(WM_DL_LOG, 0, fileName);
  std::this_thread::yield();
  if (length != 0 && !entry.Matched()) {
    // The boot loader would not know where to write it.
    ReportText(WM_DL_FAIL, FAIL_DATA_TRANSFER,
               fileName + ": the device's partition table has no partition for it");
    return false;
  }
  if (length != 0 && sequence == 0) {
    // Nothing is sent for a member whose partition gives no sequence size: guessing one
    // could make the boot loader write past what the partition expects.
    Report(WM_DL_FAIL, FAIL_DATA_TRANSFER, "%s: no transfer size for storage kind %u",
           fileName.c_str(), entry.storageKind);
    return false;
  }
  if (!stream && ::lseek(fd, static_cast<off_t>(entry.dataOffset), SEEK_SET) < 0) {
    Report(WM_DL_FAIL, FAIL_FILE_OPEN, "%s (Line: %d)", LoadString(IDS_FILE_OPEN_FAILED),
           LINE_FIRMWARE_OPEN);
    return false;
  }
  for (uint64_t done = 0; done < length;) {
    const auto n = static_cast<uint32_t>(std::min<uint64_t>(length - done, sequence));
    if (SendRequest(RQT_XMIT, RQT_XMIT_BEGIN) == REQUEST_FAILED ||
        SendRequest(RQT_XMIT, RQT_XMIT_ANNOUNCE, {Announced(n)}) == REQUEST_FAILED) {
      ReportText(WM_DL_FAIL, FAIL_REQUEST, LoadString(IDS_WRITE_COMPLETION_FAILED));
      return false;
    }
    const bool sent = stream ? SendFileData(*stream, n, progress) : SendFileData(fd, n, progress);
    if (!sent) {
      // A stream that failed says why; the line's own failures are logged by the packet layer.
      ReportText(WM_DL_FAIL, FAIL_DATA_TRANSFER, LoadString(IDS_WRITE_COMPLETION_FAILED));
      return false;
    }
    done += n;
    const int32_t last = done == length ? 1 : 0;
    if (SendRequest(RQT_XMIT, RQT_XMIT_END,
                    {EOS_LAYOUT_PHONE, static_cast<int32_t>(n),
                     static_cast<int32_t>(entry.entryKind), static_cast<int32_t>(entry.storageKind),
                     entry.partitionId, last, options_.PhoneEFSClear, options_.PhoneBootUpdate}) ==
        REQUEST_FAILED) {
      ReportText(WM_DL_FAIL, FAIL_REQUEST, LoadString(IDS_WRITE_COMPLETION_FAILED));
      return false;
    }
  }
  return true;
}

// One member of the modem package in sequences of 100 MiB, modem layout.
bool CDownloadEngine::SendModemEntry(int fd, const DownloadEntry& entry) {
  const std::string fileName(FieldText(entry.fileName, sizeof entry.fileName));
  if (::lseek(fd, static_cast<off_t>(entry.dataOffset), SEEK_SET) < 0) {
    Report(WM_DL_FAIL, FAIL_FILE_OPEN, "%s (Line: %d)", LoadString(IDS_FILE_OPEN_FAILED),
           LINE_FIRMWARE_OPEN);
    return false;
  }
  ReportText(WM_DL_LOG, 0, fileName);
  if (entry.size != 0 && !entry.Matched()) {
    ReportText(WM_DL_FAIL, FAIL_DATA_TRANSFER,
               fileName + ": the device's partition table has no partition for it");
    return false;
  }
  for (uint64_t done = 0; done < entry.size;) {
    const auto n =
        static_cast<uint32_t>(std::min<uint64_t>(entry.size - done, MODEM_SEQUENCE_SIZE));
    if (SendRequest(RQT_XMIT, RQT_XMIT_BEGIN) == REQUEST_FAILED ||
        SendRequest(RQT_XMIT, RQT_XMIT_ANNOUNCE, {Announced(n)}) == REQUEST_FAILED) {
      ReportText(WM_DL_FAIL, FAIL_REQUEST, LoadString(IDS_WRITE_COMPLETION_FAILED));
      return false;
    }
    if (!SendFileData(fd, n, fileName)) {
      ReportText(WM_DL_FAIL, FAIL_DATA_TRANSFER, LoadString(IDS_WRITE_COMPLETION_FAILED));
      return false;
    }
    done += n;
    Report(WM_DL_LOG, 0, "Transmission Complete.. ");
    Report(WM_DL_LOG, 0, "Now Writing.. Please wait about 2 minutes");
    const int32_t last = done == entry.size ? 1 : 0;
    const int32_t result =
        SendRequest(RQT_XMIT, RQT_XMIT_END,
                    {EOS_LAYOUT_MODEM, static_cast<int32_t>(n), options_.PhoneEFSClear,
                     options_.PhoneBootUpdate, last, 0, entry.partitionId, 0});
    Report(WM_DL_LOG, 0, "Receive Response from boot-loader");
    if (result == REQUEST_FAILED) return false;  // the packet layer has reported
  }
  return true;
}

}  // namespace mirk3
