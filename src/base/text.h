// Text helpers. Texts are UTF-8; a limit given in characters counts characters (code points).
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>
#include <string_view>

namespace mirk3 {

// Cuts `text` after `maxChars` characters, never inside a multi-byte sequence. Bytes that are
// not UTF-8 count one character each beyond what a lead byte announces, so no character is
// longer than 4 bytes.
std::string TruncateChars(std::string_view text, size_t maxChars);

// printf-style formatting into a std::string.
std::string FormatV(const char* format, va_list args);
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Compares two byte strings ignoring ASCII case.
bool EqualsIgnoreCase(std::string_view a, std::string_view b);

// Copies `text` into a fixed char field of `size` bytes, cut to size-1 bytes, NUL-filled.
void CopyToField(char* field, size_t size, std::string_view text);

// The text of a fixed char field up to its first NUL (or the whole field).
std::string_view FieldText(const char* field, size_t size);

// `text` in double quotes for a message, its control bytes and quotes escaped ("\r", "\x00",
// "\""), so that a text read from a file shows what it holds and cannot break the line.
std::string QuotedText(std::string_view text);

}  // namespace mirk3
