#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "backup/disk_root_path.h"
#include "backup_test_support.h"

namespace mvx::backuptest {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class DiskSpaceCheckTest : public BackupTest {};

TEST_F(DiskSpaceCheckTest, WarnsBelowThreeGigabytes) {
  constexpr std::uint64_t kThreshold = 3072ull * 1048576ull;
  struct Case {
    std::uint64_t free;
    bool warns;
  };
  for (const Case& c : {Case{kThreshold, false}, Case{kThreshold - 1, true}, Case{0, true}}) {
    SCOPED_TRACE(c.free);
    logged.clear();
    reports.sent.clear();
    freeBytes = c.free;
    engine.CheckDiskSpace();
    if (c.warns) {
      EXPECT_THAT(logged, ElementsAre(LoggedMessage{"", "Disk Space 경고!!!"}));
      EXPECT_THAT(reports.sent, ElementsAre(Sent("", "007")));
    } else {
      EXPECT_THAT(logged, IsEmpty());
      EXPECT_THAT(reports.sent, IsEmpty());
    }
  }
}

// A pass warns before it looks at any file, also when nothing is due; then
// no statement but the warning's row is sent.
TEST_F(DiskSpaceCheckTest, EveryPassChecksFirst) {
  freeBytes = 0;
  settings.databases = {"", "", "", "", "", ""};
  engine.RunDifferentialBackups("2024-03-15");
  settings.databases = {"TremoLandix", "", "", "", "", ""};
  PutFile("TremoLandix(20240315).ful");
  engine.RunFullBackups("2024-03-15");
  EXPECT_THAT(Statements(), IsEmpty());
  engine.RunDifferentialBackups("2024-03-15");
  EXPECT_THAT(reports.sent, ElementsAre(Sent("", "007"), Sent("", "007"), Sent("", "007"),
                                        Sent("TremoLandix", "013")));
  EXPECT_EQ(measuredPaths.size(), 3u);
}

TEST_F(DiskSpaceCheckTest, DbPathNamesAVolume) {
  struct Case {
    std::string dbPath, windowsRoot;
  };
  for (const Case& c :
       {Case{"C", "C:\\"}, Case{"C:", "C:\\"}, Case{"C:\\", "C:\\"}, Case{"d", "d:\\"},
        Case{"D:/", "D:\\"}, Case{"", ":\\"}, Case{"D:\\Data", "D:\\Data:\\"}, Case{"1", "1:\\"}}) {
    EXPECT_EQ(DriveRootPath(c.dbPath), c.windowsRoot) << c.dbPath;
  }
}

}  // namespace
}  // namespace mvx::backuptest
