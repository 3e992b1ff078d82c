#include "wire/end_of_sequence.h"

namespace mirk3 {
namespace {

const EndOfSequenceWords& PlacesOf(int32_t layout) {
  return layout == EOS_LAYOUT_MODEM ? MODEM_EOS_WORDS : PHONE_EOS_WORDS;
}

void Put(RequestWords& words, int at, int32_t value) {
  if (at != EndOfSequenceWords::NOT_CARRIED) words[at] = value;
}

int32_t Get(const RequestWords& words, int at) {
  return at == EndOfSequenceWords::NOT_CARRIED ? 0 : words[at];
}

}  // namespace

RequestWords EndOfSequence::Words() const {
  const EndOfSequenceWords& at = PlacesOf(layout);
  RequestWords words{};
  Put(words, at.layout, layout);
  Put(words, at.length, static_cast<int32_t>(length));
  Put(words, at.entryKind, static_cast<int32_t>(entryKind));
  Put(words, at.storageKind, static_cast<int32_t>(storageKind));
  Put(words, at.partitionId, partitionId);
  Put(words, at.last, last ? 1 : 0);
  Put(words, at.efsClear, efsClear);
  Put(words, at.bootUpdate, bootUpdate);
  return words;
}

std::optional<EndOfSequence> EndOfSequence::FromWords(const RequestWords& words) {
  const int32_t layout = words[PHONE_EOS_WORDS.layout];
  if (layout != EOS_LAYOUT_PHONE && layout != EOS_LAYOUT_MODEM) return std::nullopt;
  const EndOfSequenceWords& at = PlacesOf(layout);
  EndOfSequence end;
  end.layout = layout;
  end.length = static_cast<uint32_t>(Get(words, at.length));
  end.entryKind = static_cast<uint32_t>(Get(words, at.entryKind));
  end.storageKind = static_cast<uint32_t>(Get(words, at.storageKind));
  end.partitionId = Get(words, at.partitionId);
  end.last = Get(words, at.last) != 0;
  end.efsClear = Get(words, at.efsClear);
  end.bootUpdate = Get(words, at.bootUpdate);
  return end;
}

}  // namespace mirk3
