#include "common/host_info.h"

#include <gtest/gtest.h>

#include <cctype>

namespace mvx {
namespace {

TEST(HostInfo, ResolvesDottedAddressesWithoutLookup) {
  EXPECT_EQ(ResolveHostAddress("127.0.0.1"), "127.0.0.1");
  EXPECT_EQ(ResolveHostAddress("127.0.0.9"), "127.0.0.9");
  EXPECT_EQ(ResolveHostAddress("localhost"), "127.0.0.1");
  EXPECT_EQ(ResolveHostAddress(""), "");
}

TEST(HostInfo, ComputerNameIsShortAndUpperCase) {
  const std::string name = ReadComputerName();
  EXPECT_LE(name.size(), 15u);
  for (char c : name) EXPECT_FALSE(std::islower(static_cast<unsigned char>(c)));
}

TEST(HostInfo, FreeDiskBytes) {
  EXPECT_GT(GetFreeDiskBytes("/"), 0u);
  EXPECT_EQ(GetFreeDiskBytes("/no/such/folder/here"), 0u);
  EXPECT_EQ(GetFreeDiskBytes(""), 0u);
}

TEST(HostInfo, VersionHasFourNumbers) {
  const std::string version = ReadFileVersion();
  int dots = 0;
  for (char c : version) {
    if (c == '.') {
      ++dots;
    } else {
      EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(c))) << version;
    }
  }
  EXPECT_EQ(dots, 3);
}

}  // namespace
}  // namespace mvx
