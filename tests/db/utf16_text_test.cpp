#include "db/utf16_text.h"

#include <gtest/gtest.h>

namespace mvx {
namespace {

TEST(Utf16Text, ConvertsValidTextBothWays) {
  const std::vector<std::pair<std::string, std::u16string>> cases = {
      {"", u""},
      {"RazuRarevi Start", u"RazuRarevi Start"},
      {"Full Backup 완료", u"Full Backup 완료"},
      {"Database 접속실패!!!", u"Database 접속실패!!!"},
      {"\xC2\xA9 \xF0\x9F\x98\x80", u"\u00A9 \U0001F600"},  // two-byte and surrogate pair
  };
  for (const auto& [utf8, utf16] : cases) {
    EXPECT_EQ(Utf8ToUtf16(utf8), utf16) << utf8;
    EXPECT_EQ(Utf16ToUtf8(utf16), utf8) << utf8;
  }
}

TEST(Utf16Text, InvalidInputBecomesReplacementCharacters) {
  const std::vector<std::pair<std::string, std::u16string>> fromUtf8 = {
      {"a\xFFz", u"a\uFFFDz"},                            // byte that never starts a character
      {"a\x80z", u"a\uFFFDz"},                            // stray continuation byte
      {"\xED\x95", u"\uFFFD"},                            // '한' cut off at the end
      {"\xED\x95z", u"\uFFFDz"},                          // ... and in the middle
      {"\xC0\xAF", u"\uFFFD\uFFFD"},                      // overlong '/'
      {"\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},            // overlong three-byte form
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},            // an encoded surrogate
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // above U+10FFFF
  };
  for (const auto& [utf8, utf16] : fromUtf8) EXPECT_EQ(Utf8ToUtf16(utf8), utf16);

  const std::vector<std::pair<std::u16string, std::string>> fromUtf16 = {
      {u"\xD800x", "\xEF\xBF\xBDx"},  // high surrogate without its pair
      {u"x\xDC00", "x\xEF\xBF\xBD"},  // low surrogate alone
      {u"\xD83D", "\xEF\xBF\xBD"},    // pair cut off at the end
  };
  for (const auto& [utf16, utf8] : fromUtf16) EXPECT_EQ(Utf16ToUtf8(utf16), utf8);
}

}  // namespace
}  // namespace mvx
