#include "common/scramble.h"

#include <gtest/gtest.h>

#include <random>

#include "common/ansi_codec.h"

namespace mvx {
namespace {

TEST(Scramble, FixedVectors) {
  struct Case {
    std::string plain;
    std::string scrambled;
  };
  const Case cases[] = {
      {"", ""},
      {ToAnsi("금"), "236175"},  // the two CP949 bytes B1 DD
      {"A", "028"},              // 0x41 ^ 0x5D: one triple, the key update has no effect
      // The key moves on: (23851 + 28) * 37052 + 26947 mod 65536 = 0xD967, and 0x42 ^ 0xD9 = 155.
      {"AB", "028155"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ScrambleValue(c.plain), c.scrambled);
    EXPECT_EQ(UnscrambleValue(c.scrambled), c.plain);
  }
}

TEST(Scramble, RoundTripsEveryByteWithThreeDigitsEach) {
  std::mt19937 random(7);
  for (std::uint16_t key :
       {std::uint16_t{0}, std::uint16_t{1}, kSettingsKey, std::uint16_t{65535}}) {
    for (std::size_t length : {1u, 2u, 17u, 700u}) {
      std::string plain(length, '\0');
      for (char& c : plain) c = static_cast<char>(random() & 0xFF);
      const std::string scrambled = ScrambleValue(plain, key);
      ASSERT_EQ(scrambled.size(), plain.size() * 3);
      ASSERT_EQ(scrambled.find_first_not_of("0123456789"), std::string::npos);
      EXPECT_EQ(UnscrambleValue(scrambled, key), plain);
    }
  }
}

TEST(Scramble, ChangingAByteNeverChangesEarlierTriples) {
  const std::string a = ScrambleValue("TremoLandix");
  const std::string b = ScrambleValue("TremoLandiX");
  EXPECT_EQ(a.substr(0, 30), b.substr(0, 30));
  EXPECT_NE(a.substr(30), b.substr(30));
}

TEST(Scramble, MalformedInputDecodesGroupByGroup) {
  const std::uint8_t high = kSettingsKey >> 8;
  // A trailing group of one or two digits is a number of its own.
  const std::string four = UnscrambleValue("0281");
  ASSERT_EQ(four.size(), 2u);
  EXPECT_EQ(four[0], 'A');
  EXPECT_EQ(UnscrambleValue("abc")[0], static_cast<char>(0 ^ high));   // letters read as 000
  EXPECT_EQ(UnscrambleValue("300")[0], static_cast<char>(44 ^ high));  // low eight bits
  EXPECT_EQ(UnscrambleValue("12x")[0], static_cast<char>(0 ^ high));
  EXPECT_EQ(UnscrambleValue("-01")[0], static_cast<char>(0 ^ high));
}

}  // namespace
}  // namespace mvx
