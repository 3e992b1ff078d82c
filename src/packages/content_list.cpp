#include "packages/content_list.h"

#include <optional>

namespace mirk3 {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Hands out the text line by line; a last line without a line feed still counts.
class LineReader {
 public:
  explicit LineReader(std::string_view text) : text_(text) {}
  bool Next(std::string_view& line) {
    if (position_ >= text_.size()) return false;
    const size_t end = text_.find('\n', position_);
    const size_t stop = end == std::string_view::npos ? text_.size() : end;
    line = text_.substr(position_, stop - position_);
    position_ = stop + 1;
    return true;
  }

 private:
  std::string_view text_;
  size_t position_ = 0;
};

// A formatted integer at the start of a line; nothing when there are no digits or the
// number does not fit an int.
std::optional<int> ParseCount(std::string_view line) {
  size_t i = 0;
  while (i < line.size() && IsBlank(line[i])) ++i;
  bool negative = false;
  if (i < line.size() && (line[i] == '-' || line[i] == '+')) negative = line[i++] == '-';
  const size_t digitsStart = i;
  long long value = 0;
  for (; i < line.size() && line[i] >= '0' && line[i] <= '9'; ++i) {
    value = value * 10 + (line[i] - '0');
    if (value > 1000000) return std::nullopt;  // far outside 1..100: no need to go on
  }
  if (i == digitsStart) return std::nullopt;
  return static_cast<int>(negative ? -value : value);
}

std::string_view NextWord(std::string_view line, size_t& position) {
  while (position < line.size() && IsBlank(line[position])) ++position;
  const size_t start = position;
  while (position < line.size() && !IsBlank(line[position])) ++position;
  return line.substr(start, position - start);
}

}  // namespace

bool ParseContentList(std::string_view plain, ContentList& list) {
  list = ContentList();
  LineReader lines(plain);
  std::string_view line;
  if (!lines.Next(line)) return false;
  const std::optional<int> count = ParseCount(line);
  if (!count || *count < 1 || *count > LIST_MAX_ENTRIES) return false;
  list.count = *count;
  if (lines.Next(line)) list.model.assign(line);

  for (int i = 0; i < list.count && lines.Next(line); ++i) {
    size_t position = 0;
    const std::string_view digest = NextWord(line, position);
    const std::string_view name = NextWord(line, position);
    list.digests.emplace_back(digest);
    list.names.emplace_back(name);
  }
  return list.names.size() == static_cast<size_t>(list.count);
}

}  // namespace mirk3
