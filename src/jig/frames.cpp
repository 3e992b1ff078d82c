#include "jig/frames.h"

#include <cstring>

#include "base/text.h"

namespace mirk3 {
namespace {

// The last four characters of a status frame, by event.
const char* StatusWord(int event) {
  switch (event) {
    case JigStart:
      return "ADST";
    case JigPass:
      return "ADOK";
    case JigFail:
      return "ADNG";
    default:
      return nullptr;
  }
}

}  // namespace

uint8_t FrameChecksum(const uint8_t* bytes, size_t count) {
  unsigned sum = 0;
  for (size_t i = 0; i < count; ++i) sum += bytes[i];
  return static_cast<uint8_t>(sum & 0xFF);
}

int BuildFrame(const char* text, uint8_t* out) {
  const size_t length = strnlen(text, JIG_FRAME_BUFFER - 2);
  std::memcpy(out, text, length);
  out[length] = FrameChecksum(out, length);
  out[length + 1] = 0;  // never sent; keeps the text readable as a string
  return static_cast<int>(length + 1);
}

std::vector<uint8_t> StatusFrame(int event, int position) {
  const char* word = StatusWord(event);
  if (!word || position < 1 || position > JIG_POSITIONS) return {};
  std::vector<uint8_t> frame = {':', 'S', static_cast<uint8_t>('0' + position)};
  for (const char* c = word; *c; ++c) frame.push_back(static_cast<uint8_t>(*c));
  frame.push_back(FrameChecksum(frame.data(), frame.size()));
  return frame;
}

std::vector<std::string> JigSetupPhase(int phase, int microCable) {
  // Indexes into the command table. The first phase switches the cable's lines and cycles the
  // power; the second selects the solenoid, then wires the cable through and cycles again.
  static const std::vector<int> kPhase1Micro = {2, 6, 5};
  static const std::vector<int> kPhase1Plain = {4, 6, 5};
  static const std::vector<int> kPhase2Micro = {0, 1, 8, 10, 6, 7, 9, 5};
  static const std::vector<int> kPhase2Plain = {0, 3, 6, 11, 5, 12};
  const std::vector<int>& order = phase == 1 ? (microCable ? kPhase1Micro : kPhase1Plain)
                                             : (microCable ? kPhase2Micro : kPhase2Plain);
  std::vector<std::string> texts;
  for (const int index : order) texts.emplace_back(JIG_SETUP_TEXTS[index]);
  return texts;
}

std::string PrintableBytes(const uint8_t* bytes, size_t count) {
  std::string text;
  for (size_t i = 0; i < count; ++i) {
    if (bytes[i] >= 0x20 && bytes[i] < 0x7F && bytes[i] != '\\') {
      text += static_cast<char>(bytes[i]);
    } else {
      text += Format("\\x%02X", bytes[i]);
    }
  }
  return text;
}

std::string DescribeFrame(const uint8_t* bytes, size_t count) {
  if (count < 2) return PrintableBytes(bytes, count) + " (too short for a frame)";
  const size_t textLength = count - 1;
  const uint8_t expected = FrameChecksum(bytes, textLength);
  std::string text = PrintableBytes(bytes, textLength) + Format(" %02X", bytes[textLength]);
  if (bytes[textLength] != expected) text += Format(" bad checksum, expected %02X", expected);
  return text;
}

}  // namespace mirk3
