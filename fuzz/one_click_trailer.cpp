// Fuzzes the One Click trailer at the end of a program file: the input is the program. Its
// last 1468 bytes parse to fields that encode back to the same fields; the mode is on exactly
// when the title is the One Click title; and an engine started from such a program lists only
// members that lie inside the program and inside the slot the trailer gives them.
#include "wire/one_click_trailer.h"

#include <algorithm>
#include <string>

#include "engine/download_engine.h"
#include "packages/one_click_program.h"
#include "support/fuzz_target.h"
#include "support/scratch_dir.h"

namespace {

using mirk3::fuzz::Require;

bool SameFields(const mirk3::OneClickTrailer& a, const mirk3::OneClickTrailer& b) {
  for (int slot = 0; slot < mirk3::SLOT_COUNT; ++slot) {
    if (a.slots[slot].offset != b.slots[slot].offset ||
        a.slots[slot].length != b.slots[slot].length || a.slots[slot].type != b.slots[slot].type) {
      return false;
    }
  }
  return a.pitOffset == b.pitOffset && a.pitSize == b.pitSize && a.rePartition == b.rePartition &&
         a.phoneBootUpdate == b.phoneBootUpdate && a.phoneEfsClear == b.phoneEfsClear &&
         a.autoReboot == b.autoReboot;
}

void CheckAnalysis(const std::string& program, uint64_t size,
                   const mirk3::OneClickTrailer& trailer) {
  mirk3::EngineContext context;
  context.ownExecutablePath = program;
  mirk3::CDownloadEngine engine(nullptr, 0, context);
  Require(engine.OneClickMode(), "a program with the title not taken as One Click");
  engine.CopyOptions({});
  Require(engine.Options().RePartition == static_cast<int32_t>(trailer.rePartition),
          "the program's re-partition flag not applied");
  const mirk3::DownloadPlan found = engine.AnalyseFiles();
  if (!found.Passed()) return;
  for (int slot = 0; slot < mirk3::SLOT_COUNT; ++slot) {
    const mirk3::OneClickSlot& carried = trailer.slots[slot];
    const uint64_t end = std::min<uint64_t>(size, uint64_t{carried.offset} + carried.length);
    for (const auto& entry : found.slots[slot].members) {
      Require(carried.Present(), "a member listed for an empty slot");
      Require(entry->dataOffset >= carried.offset && entry->dataOffset <= end &&
                  entry->size <= end - entry->dataOffset,
              "a member outside its slot or the program");
    }
  }
  const mirk3::PackagePit& pit = found.packagePit;
  if (pit.present) {
    Require(pit.offset <= size && pit.size <= size - pit.offset,
            "a partition table outside the program");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string program = mirk3::fuzz::WriteScratchFile("program", data, size);
  const auto read = mirk3::ReadOneClickTrailer(program);
  if (size < mirk3::ONECLICK_TRAILER_SIZE) {
    Require(!read, "a trailer read from a program shorter than one");
    return 0;
  }
  const uint8_t* tail = data + size - mirk3::ONECLICK_TRAILER_SIZE;
  const mirk3::OneClickTrailer trailer = mirk3::OneClickTrailer::Parse(tail);
  Require(trailer.title.size() <= mirk3::ONECLICK_TITLE_BYTES / 2, "a title past its field");
  Require(SameFields(mirk3::OneClickTrailer::Parse(trailer.Encode().data()), trailer),
          "a trailer that does not encode back to its fields");
  Require(read.has_value() == trailer.TitleMatches(), "the mode and the title disagree");
  Require(trailer.TitleMatches() == (trailer.title == u"Mirk3 One Click Download"),
          "a title taken for another");
  if (read) CheckAnalysis(program, size, trailer);
  return 0;
}
