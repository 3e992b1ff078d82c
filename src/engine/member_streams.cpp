// The bytes of a One Click member: compressed slots are inflated on their way to the phone,
// plain slots are read as stored.
#include "base/text.h"
#include "engine/download_engine.h"
#include "packages/inflate_reader.h"
#include "packages/plain_member_stream.h"

namespace mirk3 {

std::unique_ptr<ByteStream> CDownloadEngine::OpenMemberStream(int fd, int slot,
                                                              const DownloadEntry& entry) {
  if (trailer_.slots[slot].type != ONECLICK_TAR_DEFLATED) {
    return std::make_unique<PlainMemberStream>(fd, entry.dataOffset, entry.size);
  }
  auto reader = std::make_unique<CInflateReader>();
  if (!reader->Begin(fd, entry.dataOffset, entry.size, entry.inflatedSize)) {
    ReportText(WM_DL_FAIL, FAIL_DATA_TRANSFER,
               std::string(FieldText(entry.fileName, sizeof entry.fileName)) + ": " +
                   reader->FailureText());
    return nullptr;
  }
  return reader;
}

}  // namespace mirk3
