#include "common/scramble.h"

#include <cstdio>

namespace mvx {
namespace {

constexpr std::uint16_t kMultiplier = 37052;
constexpr std::uint16_t kIncrement = 26947;

// In unsigned arithmetic: promoted to int, the product overflows, which is undefined.
std::uint16_t Advance(std::uint16_t runningKey, unsigned char scrambled) {
  const unsigned sum = static_cast<unsigned>(runningKey) + scrambled;
  return static_cast<std::uint16_t>(sum * kMultiplier + kIncrement);
}

// A group of up to three characters read as a decimal number; anything that
// is not one reads as 0, and only the low eight bits count.
unsigned char ReadGroup(std::string_view group) {
  unsigned value = 0;
  for (char c : group) {
    if (c < '0' || c > '9') return 0;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  return static_cast<unsigned char>(value & 0xFF);
}

}  // namespace

std::string ScrambleValue(std::string_view plain, std::uint16_t key) {
  std::string result;
  result.reserve(plain.size() * 3);
  std::uint16_t runningKey = key;
  for (char c : plain) {
    const auto scrambled =
        static_cast<unsigned char>(static_cast<unsigned char>(c) ^ (runningKey >> 8));
    runningKey = Advance(runningKey, scrambled);
    char triple[4];
    std::snprintf(triple, sizeof triple, "%.3d", scrambled);
    result.append(triple, 3);
  }
  return result;
}

std::string UnscrambleValue(std::string_view scrambled, std::uint16_t key) {
  std::string result;
  result.reserve(scrambled.size() / 3 + 1);
  std::uint16_t runningKey = key;
  for (std::size_t i = 0; i < scrambled.size(); i += 3) {
    const unsigned char byte = ReadGroup(scrambled.substr(i, 3));
    result.push_back(static_cast<char>(byte ^ (runningKey >> 8)));
    runningKey = Advance(runningKey, byte);
  }
  return result;
}

}  // namespace mvx
