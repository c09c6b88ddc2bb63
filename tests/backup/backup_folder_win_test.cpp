#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>

#include "backup/disk_root_path.h"
#include "backup_test_support.h"
#include "common/host_info.h"

namespace mvx::backuptest {
namespace {

using ::testing::ElementsAre;

// What the Windows folder backend counts as a backup file: hidden and system files are left
// alone, and read-only files cannot be deleted, which the call reports once with a "006".
TEST_F(BackupTest, WindowsFolderSkipsHiddenAndSystemFilesAndKeepsReadOnlyOnes) {
  struct Case {
    const char* name;
    DWORD attributes;
    bool kept;
  };
  const Case cases[] = {
      {"TremoLandix(20230101).ful", FILE_ATTRIBUTE_HIDDEN, true},
      {"TremoLandix(20230102).ful", FILE_ATTRIBUTE_SYSTEM, true},
      {"TremoLandix(20230103).inc", FILE_ATTRIBUTE_READONLY, true},
      {"TremoLandix(20230104).trf", FILE_ATTRIBUTE_READONLY, true},
      {"TremoLandix(20230105).tri", FILE_ATTRIBUTE_ARCHIVE, false},
  };
  // The newest file of each extension always stays, so each has a newer one.
  for (const char* ext : {"ful", "inc", "trf", "tri"}) {
    PutFile(std::string("TremoLandix(20240301).") + ext);
  }
  for (const Case& c : cases) {
    PutFile(c.name);
    ASSERT_TRUE(SetFileAttributesW((backups.path() / c.name).wstring().c_str(), c.attributes))
        << c.name;
  }

  engine.RemoveOldBackups("2024-03-15", "TremoLandix");

  for (const Case& c : cases) {
    EXPECT_EQ(backups.exists(c.name), c.kept) << c.name;
    // Read-only files would keep the temporary folder from being removed.
    SetFileAttributesW((backups.path() / c.name).wstring().c_str(), FILE_ATTRIBUTE_NORMAL);
  }
  EXPECT_THAT(logged, ElementsAre(LoggedMessage{"", "Old File Delete" + BackupFolder() + "\\" +
                                                        "TremoLandix(20230105).tri"}));
  EXPECT_THAT(reports.sent, ElementsAre(Sent("TremoLandix", "006")));
}

// DBPath names a drive whose root is measured; a drive that is not there has no free space.
TEST_F(BackupTest, WindowsDiskCheckMeasuresTheDrive) {
  EXPECT_EQ(DiskRootPath("c"), "c:\\");
  BackupEngine real{settings,       database,     sqlQuery,     serviceTables, reports,
                    installationId, computerName, reports.stop, clock};
  settings.dbPath = "C";
  real.CheckDiskSpace();
  const std::uint64_t free = GetFreeDiskBytes("C:\\");
  EXPECT_GT(free, 0u);
  EXPECT_EQ(reports.sent.empty(), free >= 3072ull * 1048576ull);
  reports.sent.clear();
  settings.dbPath = "Q";  // no such drive in the test prefix
  real.CheckDiskSpace();
  EXPECT_THAT(reports.sent, ElementsAre(Sent("", "007")));
}

}  // namespace
}  // namespace mvx::backuptest
