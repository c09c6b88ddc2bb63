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

// What the POSIX folder backend counts as a backup file: dot files are hidden and symbolic links
// are not files; a file nobody may write is kept, as Windows keeps a read-only one, with one "006".
TEST_F(BackupTest, PosixFolderSkipsHiddenFilesAndLinksAndKeepsUnwritableOnes) {
  PutFile(".TremoLandix(20230101).ful");
  PutFile("elsewhere");
  std::filesystem::create_symlink(backups.file("elsewhere"),
                                  backups.file("TremoLandix(20230103).inc"));
  PutFile("TremoLandix(20230104).ful");
  chmod(backups.file("TremoLandix(20230104).ful").c_str(), 0444);
  PutFile("TremoLandix(20230105).ful");
  chmod(backups.file("TremoLandix(20230105).ful").c_str(), 0600);
  PutFile("TremoLandix(20240301).ful");  // the newest always stays
  PutFile("TremoLandix(20240301).inc");

  engine.RemoveOldBackups("2024-03-15", "TremoLandix");

  EXPECT_TRUE(backups.exists(".TremoLandix(20230101).ful"));
  EXPECT_TRUE(std::filesystem::is_symlink(backups.file("TremoLandix(20230103).inc")));
  EXPECT_TRUE(backups.exists("TremoLandix(20230104).ful"));
  EXPECT_FALSE(backups.exists("TremoLandix(20230105).ful"));
  EXPECT_THAT(logged, ElementsAre(LoggedMessage{"", "Old File Delete" + BackupFolder() + "\\" +
                                                        "TremoLandix(20230105).ful"}));
  EXPECT_THAT(reports.sent, ElementsAre(Sent("TremoLandix", "006")));
}

// DBPath names a folder whose file system is measured.
TEST_F(BackupTest, PosixDiskCheckMeasuresTheFolder) {
  EXPECT_EQ(DiskRootPath("/var/lib/mssql"), "/var/lib/mssql");
  EXPECT_EQ(DiskRootPath("\\var\\lib"), "/var/lib");

  BackupEngine real{settings,       database,     sqlQuery,     serviceTables, reports,
                    installationId, computerName, reports.stop, clock};
  settings.dbPath = BackupFolder();
  // Measured apart from the code under test; other processes may write in between.
  const std::uint64_t free = std::filesystem::space(BackupFolder()).free;
  EXPECT_NEAR(static_cast<double>(GetFreeDiskBytes(BackupFolder())), static_cast<double>(free),
              1024.0 * 1048576.0);
  real.CheckDiskSpace();
  EXPECT_EQ(reports.sent.empty(), free >= 3072ull * 1048576ull);
  reports.sent.clear();
  settings.dbPath = BackupFolder() + "/missing";  // a path that does not exist has no free space
  real.CheckDiskSpace();
  EXPECT_THAT(reports.sent, ElementsAre(Sent("", "007")));
}

}  // namespace
}  // namespace mvx::backuptest
