#include "common/text_util.h"

#include <gtest/gtest.h>

namespace mvx {
namespace {

TEST(TextUtil, EncodeFormValue) {
  struct Case {
    std::string input;
    std::string expected;
  };
  const Case cases[] = {
      {"ER", "ER"},
      {"007", "007"},
      {" ", "+"},
      {"a+b", "a%2Bb"},
      {"100%", "100%25"},
      {"", ""},
      {"\n~", "%0A%7E"},
      {"\xB0", "%B0"},
      {std::string("ab\0cd", 5), "ab"},
      {"!$'()*-.@_", "!$'()*-.@_"},
      {"\xB1\xDD", "%B1%DD"},
  };
  for (const Case& c : cases) EXPECT_EQ(EncodeFormValue(c.input), c.expected) << c.input;
}

TEST(TextUtil, SqlLiteral) {
  EXPECT_EQ(SqlLiteral("abc"), "'abc' ");
  EXPECT_EQ(SqlLiteral("T0245"), "'T0245' ");
  EXPECT_EQ(SqlLiteral(""), "'' ");
  EXPECT_EQ(SqlLiteral("it's"), "'it''s' ");  // quotes are doubled so the statement holds
  EXPECT_EQ(SqlLiteral(5), "5 ");
  EXPECT_EQ(SqlLiteral(true), "-1 ");
  EXPECT_EQ(SqlLiteral(2.5), "2.5 ");
  EXPECT_EQ(SqlLiteral(nullptr), "");
}

TEST(TextUtil, SqlIdentifier) {
  EXPECT_EQ(SqlIdentifier("TremoLandix"), "TremoLandix");
  EXPECT_EQ(SqlIdentifier("_db2"), "_db2");
  EXPECT_EQ(SqlIdentifier("my db"), "[my db]");
  EXPECT_EQ(SqlIdentifier("a]b"), "[a]]b]");
  EXPECT_EQ(SqlIdentifier("2024db"), "[2024db]");
  EXPECT_EQ(SqlIdentifier("x;drop"), "[x;drop]");
  EXPECT_EQ(SqlIdentifier("Backup"), "[Backup]");  // reserved words are no regular identifiers
  EXPECT_EQ(SqlIdentifier("master"), "master");
  EXPECT_EQ(SqlIdentifier("#temp"), "[#temp]");
  EXPECT_EQ(SqlIdentifier("db#1$"), "db#1$");
  EXPECT_EQ(SqlIdentifier("금고"), "금고");
}

TEST(TextUtil, TrimAndCase) {
  EXPECT_EQ(TrimControls(" \t\r\nabc \x01"), "abc");
  EXPECT_EQ(TrimBlanks("  a b  "), "a b");
  EXPECT_EQ(UpperAscii("Brivellon 금"), "BRIVELLON 금");
  EXPECT_TRUE(EqualsNoCase("tremolandix", "TREMOLANDIX"));
  EXPECT_FALSE(EqualsNoCase("tremolandix2", "TREMOLANDIX"));
  // What is not UTF-8 becomes U+FFFD, one per byte; what is stays.
  const std::string bad = "\xEF\xBF\xBD";
  EXPECT_EQ(ValidUtf8("금고 a"), "금고 a");
  EXPECT_EQ(ValidUtf8("\xB1\xDD"), bad + bad);                      // CP949 bytes
  EXPECT_EQ(ValidUtf8("a\xEA\xB8"), "a" + bad + bad);               // cut short
  EXPECT_EQ(ValidUtf8("\xC0\x80"), bad + bad);                      // overlong
  EXPECT_EQ(ValidUtf8("\xED\xA0\x80"), bad + bad + bad);            // a surrogate
  EXPECT_EQ(ValidUtf8("\xF4\x90\x80\x80"), bad + bad + bad + bad);  // past U+10FFFF
}

TEST(TextUtil, ParseInt) {
  struct Case {
    std::string text;
    bool ok;
    int value;
  };
  const Case cases[] = {{"1800", true, 1800},
                        {"-5", true, -5},
                        {" 42 ", true, 42},
                        {"", false, 0},
                        {"12a", false, 0},
                        {"99999999999", false, 0},
                        {"-2147483648", true, -2147483647 - 1},
                        {"2147483648", false, 0}};
  for (const Case& c : cases) {
    int value = 0;
    EXPECT_EQ(ParseInt(c.text, value), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(value, c.value) << c.text;
    }
  }
}

TEST(TextUtil, CutToCp949BytesKeepsWholeCharacters) {
  EXPECT_EQ(CutToCp949Bytes("abc", 50), "abc");
  EXPECT_EQ(CutToCp949Bytes("가나다", 5), "가나");  // two bytes each in CP949
  EXPECT_EQ(CutToCp949Bytes("a가나", 4), "a가");
  EXPECT_EQ(CutToCp949Bytes("\xF0\x9F\x98\x80가나", 3), "\xF0\x9F\x98\x80가");  // '?' is one byte
  const std::string longMessage = "Old File DeleteD:\\Data_Backup\\TremoLandix(20240101).ful";
  EXPECT_EQ(CutToCp949Bytes(longMessage, 50), longMessage.substr(0, 50));
}

}  // namespace
}  // namespace mvx
