// Writing to a non-blocking serial line with a time limit: the jig's lines are written from
// the station's main thread, and a jig that stops taking bytes must never hold it.
#pragma once

#include <cstdint>

#include "base/file.h"
#include "serial/line_error.h"

namespace mirk3 {

// Writes up to `length` bytes, waiting while the device takes them, for at most `limitMs`
// (no limit when negative). Returns the bytes written; *error tells why it stopped short.
int WriteWithLimit(BorrowedFd fd, const uint8_t* bytes, int length, int limitMs,
                   LineError* error);

}  // namespace mirk3
