// The jig's command frames: seven ASCII characters and one checksum byte (the sum of the
// characters, modulo 256), with no terminator, line end or length in front. Status frames
// tell the jig about one of its eight positions; set-up frames switch its relays and power.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace mirk3 {

// What a frame is built into: the text, its checksum, room to spare.
inline constexpr int JIG_FRAME_BUFFER = 250;
inline constexpr int JIG_FRAME_LENGTH = 8;
inline constexpr int JIG_POSITIONS = 8;

// The connection check; the jig answers it with ":V" and six more bytes.
inline constexpr char JIG_CHECK_TEXT[] = ":S1VER?";

// The jig events a station sends; each is also the event type of CThreadMdlControl::JigEvent.
enum JigEventType : int { JigCheck = 0, JigStart = 1, JigPass = 2, JigFail = 3 };

// The set-up commands, by their index in the jig's command table.
inline constexpr std::array<const char*, 13> JIG_SETUP_TEXTS = {
    ":S1SOL5", ":SAMU2O", ":SAMU2U", ":SABTON", ":SABTOF", ":SAPAOF", ":SAPAON",
    ":SAR8OF", ":SAR8ON", ":SAR7OF", ":SAR7ON", ":SACFVH", ":SARSIN"};

// The sum of the bytes, modulo 256.
uint8_t FrameChecksum(const uint8_t* bytes, size_t count);

// Copies `text` (at most JIG_FRAME_BUFFER - 2 characters are taken) into `out` and puts the
// checksum byte right after it; returns the frame's length. `out` holds JIG_FRAME_BUFFER bytes.
int BuildFrame(const char* text, uint8_t* out);

// The status frame of an event (start, pass, fail) at `position` 1..8, built byte by byte:
// ":S", the position's digit, then "ADST", "ADOK" or "ADNG". Empty for another event or
// position.
std::vector<uint8_t> StatusFrame(int event, int position);

// The set-up commands of one phase (1 or 2) for a cable flag, in the order they are sent.
std::vector<std::string> JigSetupPhase(int phase, int microCable);

// A frame for people: its text, then the checksum byte in hex, and whether it holds
// (":S1VER? EA", ":S1ADST 31 bad checksum, expected 30"). Bytes outside printable ASCII show
// as \xNN.
std::string DescribeFrame(const uint8_t* bytes, size_t count);

// Bytes as text, non-printable ones as \xNN (":V\x01\x02...").
std::string PrintableBytes(const uint8_t* bytes, size_t count);

}  // namespace mirk3
