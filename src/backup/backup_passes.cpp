#include <string>
#include <vector>

#include "backup/backup_engine.h"
#include "backup/backup_file_name.h"
#include "backup/backup_folder.h"

namespace mvx {
namespace {

struct DueBackup {
  std::string database;
  std::string fileName;
};

}  // namespace

void BackupEngine::RunFullBackups(std::string_view today) {
  RunPass(today, kFullBackupExtension, true);
}

void BackupEngine::RunDifferentialBackups(std::string_view today) {
  RunPass(today, kDifferentialBackupExtension, false);
}

void BackupEngine::RunPass(std::string_view today, std::string_view extension, bool full) {
  CheckDiskSpace();

  // Today's file is the only record of today's backup. Every slot is judged
  // before the first backup, so a backup of this pass never hides another.
  std::vector<DueBackup> due;
  for (const std::string& database : settings_.databases) {
    if (database.empty()) continue;
    std::string fileName = BackupFileName(settings_.bkPath, database, today, extension);
    if (!BackupFileExists(fileName)) due.push_back({database, std::move(fileName)});
  }
  if (due.empty()) return;

  if (!database_.ConnectDatabase()) return;
  ++folderWrites_;
  for (const DueBackup& backup : due) {
    // Between databases is the safe point for a service stop; the files not
    // yet written keep those databases due for the next tick.
    if (stopRequested_.load()) break;
    if (full) {
      BackupDatabaseFull(backup.database, backup.fileName);
    } else {
      BackupDatabaseDifferential(backup.database, backup.fileName);
    }
  }
  database_.DisconnectDatabase();
}

}  // namespace mvx
