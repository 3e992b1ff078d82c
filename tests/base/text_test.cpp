// Texts cut to what a report holds: whole characters, and never more than 4 bytes to one, even
// when the text is not UTF-8 (a phone's model name is whatever the phone sends).
#include "base/text.h"

#include <gtest/gtest.h>

#include <string>

namespace mirk3 {
namespace {

TEST(TruncateChars, CutsAfterWholeCharactersOfAtMostFourBytes) {
  const std::string stray(1000, '\x80');
  const struct {
    std::string text;
    size_t maxChars;
    std::string cut;
  } cases[] = {
      {"abcdef", 3, "abc"},
      {"ab", 3, "ab"},
      {"\xC3\xA4\xC3\xB6\xC3\xBC", 2, "\xC3\xA4\xC3\xB6"},   // two-byte characters
      {"\xF0\x9F\x98\x80z", 1, "\xF0\x9F\x98\x80"},          // a four-byte character
      {stray, 3, stray.substr(0, 3)},                        // continuation bytes alone
      {"\xC3" + stray, 2, "\xC3" + stray.substr(0, 2)},      // one too many after a lead
      {"\xE2\x82\xAC\x80\x80x", 3, "\xE2\x82\xAC\x80\x80"},  // stray bytes after a character
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TruncateChars(c.text, c.maxChars), c.cut) << c.maxChars << " of " << c.text.size();
  }
}

}  // namespace
}  // namespace mirk3
