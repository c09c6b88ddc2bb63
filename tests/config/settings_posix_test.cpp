#include <gtest/gtest.h>
#include <sys/stat.h>

#include "config/settings.h"
#include "support/temp_dir.h"

// The POSIX names of rewrite leftovers and the file mode of a new settings file.
namespace mvx {
namespace {

// Leftovers of an interrupted rewrite go at the start; a file the agent
// creates holds the login, so it is its owner's alone.
TEST(SettingsPosix, StartRemovesLeftoversAndCreatesAPrivateFile) {
  testing::TempDir dir;
  dir.write("RazuRarevi.ini.tmp-a1B2c3", "half");
  dir.write("RazuRarevi.ini.tmp-notours", "keep");
  Settings s;
  ClearSettings(s);
  LoadSettings(s, dir.file("RazuRarevi.ini"));
  EXPECT_FALSE(dir.exists("RazuRarevi.ini.tmp-a1B2c3"));
  EXPECT_TRUE(dir.exists("RazuRarevi.ini.tmp-notours"));
  WriteDbServerSection(s, dir.file("RazuRarevi.ini"));
  struct stat info {};
  ASSERT_EQ(stat(dir.file("RazuRarevi.ini").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
}

}  // namespace
}  // namespace mvx
