#include "base/text.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace mirk3 {

std::string TruncateChars(std::string_view text, size_t maxChars) {
  size_t chars = 0;
  size_t following = 0;  // continuation bytes the current character's lead byte announced
  for (size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if ((byte & 0xC0) == 0x80 && following > 0) {
      --following;
      continue;
    }
    // A lead byte starts a character; so does a stray continuation byte, or a phone's text
    // of nothing but continuation bytes would pass whole as one character.
    if (chars == maxChars) return std::string(text.substr(0, i));
    ++chars;
    following = byte >= 0xF0 ? 3 : byte >= 0xE0 ? 2 : byte >= 0xC0 ? 1 : 0;
  }
  return std::string(text);
}

std::string FormatV(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  const int needed = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (needed <= 0) return {};
  std::vector<char> buffer(static_cast<size_t>(needed) + 1);
  std::vsnprintf(buffer.data(), buffer.size(), format, args);
  return std::string(buffer.data(), static_cast<size_t>(needed));
}

std::string Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = FormatV(format, args);
  va_end(args);
  return text;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

void CopyToField(char* field, size_t size, std::string_view text) {
  std::memset(field, 0, size);
  std::memcpy(field, text.data(), std::min(text.size(), size - 1));
}

std::string_view FieldText(const char* field, size_t size) {
  const void* nul = std::memchr(field, 0, size);
  return std::string_view(field,
                          nul ? static_cast<size_t>(static_cast<const char*>(nul) - field) : size);
}

std::string QuotedText(std::string_view text) {
  std::string quoted = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += c;
    } else if (c == '\r') {
      quoted += "\\r";
    } else if (c == '\n') {
      quoted += "\\n";
    } else if (c == '\t') {
      quoted += "\\t";
    } else if (byte < 0x20 || byte == 0x7F) {
      quoted += Format("\\x%02x", byte);
    } else {
      quoted += c;
    }
  }
  return quoted + "\"";
}

}  // namespace mirk3
