#include "common/ansi_codec.h"

#include <gtest/gtest.h>

namespace mvx {
namespace {

TEST(AnsiCodec, ConvertsKoreanBothWays) {
  EXPECT_EQ(ToAnsi("금"), "\xB1\xDD");
  EXPECT_EQ(FromAnsi("\xB1\xDD"), "금");
  const std::string text = "Disk Space 경고!!! RidOdadez 서비스관리자를 열수 없음";
  EXPECT_EQ(FromAnsi(ToAnsi(text)), text);
  EXPECT_EQ(ToAnsi("plain ascii"), "plain ascii");
  EXPECT_EQ(ToAnsi(""), "");
}

TEST(AnsiCodec, InvalidInputBecomesQuestionMarks) {
  struct Case {
    std::string input;
    std::string toAnsi;
  };
  const Case cases[] = {
      {"a\xFF"
       "b",
       "a?b"},                      // not UTF-8 at all
      {"a\xEA\xB8", "a?"},          // cut-off sequence at the end
      {"\xF0\x9F\x98\x80x", "?x"},  // an emoji CP949 cannot hold
  };
  for (const Case& c : cases) EXPECT_EQ(ToAnsi(c.input), c.toAnsi) << c.input;
  EXPECT_EQ(FromAnsi("a\xB1"), "a?");  // lead byte without its trail byte
  // Bytes that are no character never take the characters after them along: unmapped pairs and
  // a lead cut off at the end.
  const std::pair<std::string, std::string> badThenTail[] = {
      {"\xFF\xFF", "z"}, {"\xA2\xE8", "AB"}, {"\xA2\xE8", ""}, {"\xA2", ""}};
  for (const auto& [bad, tail] : badThenTail) {
    const std::string text = FromAnsi("x" + bad + tail);
    EXPECT_TRUE(text.starts_with("x") && text.ends_with(tail) && text.size() > 1 + tail.size())
        << bad << tail << " -> " << text;
  }
}

}  // namespace
}  // namespace mvx
