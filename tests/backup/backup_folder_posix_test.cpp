#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "backup/disk_root_path.h"
#include "backup_test_support.h"
#include "common/host_info.h"

namespace mvx::backuptest {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// What the POSIX folder backend counts as a backup file: dot files are hidden and symbolic links
// are not files; a read-only file goes like any other, since the folder's permission decides.
TEST_F(BackupTest, PosixFolderSkipsHiddenFilesAndLinks) {
  PutFile(".TremoLandix(20230101).ful");
  PutFile("elsewhere");
  std::filesystem::create_symlink(backups.file("elsewhere"),
                                  backups.file("TremoLandix(20230103).inc"));
  PutFile("TremoLandix(20230104).ful");
  chmod(backups.file("TremoLandix(20230104).ful").c_str(), 0444);

  engine.RemoveOldBackups("2024-03-15", "TremoLandix");

  EXPECT_TRUE(backups.exists(".TremoLandix(20230101).ful"));
  EXPECT_TRUE(std::filesystem::is_symlink(backups.file("TremoLandix(20230103).inc")));
  EXPECT_FALSE(backups.exists("TremoLandix(20230104).ful"));
  EXPECT_THAT(logged, ElementsAre(LoggedMessage{"", "Old File Delete" + BackupFolder() + "\\" +
                                                        "TremoLandix(20230104).ful"}));
  EXPECT_THAT(reports.sent, IsEmpty());
}

// DBPath names a folder whose file system is measured.
TEST_F(BackupTest, PosixDiskCheckMeasuresTheFolder) {
  EXPECT_EQ(DiskRootPath("/var/lib/mssql"), "/var/lib/mssql");
  EXPECT_EQ(DiskRootPath("\\var\\lib"), "/var/lib");

  BackupEngine real{settings, database,       sqlQuery,     serviceTables,
                    reports,  installationId, computerName, reports.stop};
  settings.dbPath = BackupFolder();
  real.CheckDiskSpace();
  const bool plenty = GetFreeDiskBytes(BackupFolder()) >= 3072ull * 1048576ull;
  EXPECT_EQ(reports.sent.empty(), plenty);
  reports.sent.clear();
  settings.dbPath = BackupFolder() + "/missing";  // a path that does not exist has no free space
  real.CheckDiskSpace();
  EXPECT_THAT(reports.sent, ElementsAre(Sent("", "007")));
}

}  // namespace
}  // namespace mvx::backuptest
