#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "backup/disk_root_path.h"
#include "backup_test_support.h"
#include "common/host_info.h"

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
  EXPECT_EQ(DiskRootPath("/var/lib/mssql"), "/var/lib/mssql");
  EXPECT_EQ(DiskRootPath("\\var\\lib"), "/var/lib");
}

// The real measurement: a path that does not exist has no free space.
TEST_F(DiskSpaceCheckTest, AMissingPathWarns) {
  BackupEngine real{settings, database,       sqlQuery,     serviceTables,
                    reports,  installationId, computerName, reports.stop};
  settings.dbPath = BackupFolder();
  // Measured apart from the code under test; other processes may write in between.
  const std::uint64_t free = std::filesystem::space(BackupFolder()).free;
  EXPECT_NEAR(static_cast<double>(GetFreeDiskBytes(BackupFolder())), static_cast<double>(free),
              1024.0 * 1048576.0);
  real.CheckDiskSpace();
  EXPECT_EQ(reports.sent.empty(), free >= 3072ull * 1048576ull);
  reports.sent.clear();
  settings.dbPath = BackupFolder() + "/missing";
  real.CheckDiskSpace();
  EXPECT_THAT(reports.sent, ElementsAre(Sent("", "007")));
}

}  // namespace
}  // namespace mvx::backuptest
