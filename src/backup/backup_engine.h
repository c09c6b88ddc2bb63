#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "backup/backup_folder_listing.h"
#include "common/report_sink.h"
#include "config/settings.h"
#include "db/database.h"
#include "db/service_tables.h"
#include "db/sql_connection.h"

namespace mvx {

// Free bytes of the volume that holds a path; GetFreeDiskBytes by default.
using FreeSpaceReader = std::function<std::uint64_t(std::string_view path)>;

class CleanupRound;
class Clock;

// Backup passes, full and differential backups, old-file cleanup and the
// disk-space check. Used from the timer tick only, one call at a time.
class BackupEngine {
 public:
  // Everything is held by reference: the service module owns it, and
  // InstallationId and ComputerName change while the service runs.
  // `sqlQuery` is the service module's SQLQuery, on which every backup
  // statement runs. `stopRequested` is read between databases of a pass: a
  // stop ends the pass there, never inside one database's statements. The
  // clock names the log backups.
  BackupEngine(const Settings& settings, Database& database, SqlQuery& sqlQuery,
               ServiceTables& serviceTables, ReportSink& reports, const std::string& installationId,
               const std::string& computerName, const std::atomic<bool>& stopRequested,
               const Clock& clock, FreeSpaceReader freeSpace = {});

  // The passes: disk check, then every slot whose file for `today`
  // ("yyyy-mm-dd") is missing is backed up, in slot order, on one connection.
  // An error of a report passes to the caller and ends the pass.
  void RunFullBackups(std::string_view today);
  void RunDifferentialBackups(std::string_view today);

  // One database into one file, on the open connection; the outcome goes to
  // the service log and to a report ("012"/"002", "013"/"003").
  void BackupDatabaseFull(std::string_view database, std::string_view fileName);
  void BackupDatabaseDifferential(std::string_view database, std::string_view fileName);

  // With LogBackup on: a log backup of every slot database in the full recovery model, in slot
  // order, on one connection; a database whose log chain is broken (no full backup since)
  // gets today's full backup at once. Only a failure, and the first success after one, writes
  // a row.
  void RunLogBackups();

  // Deletes the database's backup files older than the retention setting
  // allows, reading the folder for this call alone. Throws when `today` is no
  // date or the backup folder cannot be read. A schedule evaluation that
  // cleans up all slots uses one CleanupRound instead.
  void RemoveOldBackups(std::string_view today, std::string_view database);
  // A round reads the backup folder once for all its RemoveOldBackups calls.
  // It must not outlive the engine.
  CleanupRound BeginCleanupRound();

  // Warns ("Disk Space 경고!!!", "007") below 3072 MB free on DBPath's volume.
  void CheckDiskSpace();

 private:
  friend class CleanupRound;

  // With the Verify setting, the server reads a file it has just written back
  // on the same connection; a failure also goes to the text log with the
  // server's message. A verification that a stop cancelled has no outcome.
  enum class Verification { kOff, kPassed, kFailed, kCutShort };
  Verification VerifyBackup(std::string_view database, std::string_view fileName);
  // The outcome's activity row, written after the backup's own row.
  void RecordVerification(std::string_view database, Verification verification);
  // A backup that failed its verification is no backup of its day: it becomes
  // "<file>.bad" (the database's older one of that extension goes), so the
  // next tick takes the backup again.
  void SetAsideFailedBackup(std::string_view database, std::string_view fileName);

  void RunPass(std::string_view today, std::string_view extension, bool full);

  enum class LogBackupResult { kDone, kFailed, kChainBroken };
  struct LogBackupOutcome {
    LogBackupResult result = LogBackupResult::kFailed;
    bool verifyFailed = false;
  };
  // One BACKUP LOG into a new file (verified with the Verify setting); failures go to the
  // text log at once, the rows wait for RecordLogBackup: an activity row may reopen the
  // connection, which must stay in the database until its log is shrunk.
  LogBackupOutcome BackupLog(std::string_view database);
  void RecordLogBackup(std::string_view database, const LogBackupOutcome& outcome);
  // The full pass with LogBackup on: the log goes to a file instead of being emptied through
  // the simple recovery model, so the chain goes on from the new full backup. Nullopt when
  // the database takes no log backups.
  std::optional<LogBackupOutcome> KeepLogChain(std::string_view database);
  // True for the full recovery model; any other answer is written to the text log once.
  bool LogBackupsApply(std::string_view database);
  void RecordOutcome(std::string_view database, std::string_view message,
                     std::string_view eventCode);
  void SendEventReport(std::string_view database, std::string_view eventCode);

  const Settings& settings_;
  Database& database_;
  SqlQuery& sqlQuery_;
  ServiceTables& serviceTables_;
  ReportSink& reports_;
  const std::string& installationId_;
  const std::string& computerName_;
  const std::atomic<bool>& stopRequested_;
  FreeSpaceReader freeSpace_;
  // Counts the passes that may have written into the backup folder, so that
  // a cleanup round never works from a listing older than a backup.
  std::uint64_t folderWrites_ = 0;
  const Clock& clock_;
  // Databases whose latest log backup failed: the next success says so in a row.
  std::set<std::string, std::less<>> logBackupFailed_;
  // Databases without log backups that the text log has been told of since the start.
  std::set<std::string, std::less<>> logBackupsSkipped_;
};

// The cleanup of one schedule evaluation: the backup folder is read on the
// first call that needs it and kept, with the deletions applied, for the
// calls after it. Results and message order are those of a fresh search per
// call as long as nothing but the round changes the folder meanwhile; a
// backup pass of the engine in between makes the next call read it again.
class CleanupRound {
 public:
  explicit CleanupRound(BackupEngine& engine) : engine_(engine) {}

  // Same behaviour as BackupEngine::RemoveOldBackups. A file removed by
  // someone else after the round read the folder counts as a failed deletion
  // (no message, the "006" report), as a file vanishing between the search
  // and its deletion always did.
  void RemoveOldBackups(std::string_view today, std::string_view database);

 private:
  BackupFolderListing& Listing();

  BackupEngine& engine_;
  std::optional<BackupFolderListing> listing_;
  std::uint64_t listedAtWrites_ = 0;
};

// Below the free space the disk check warns at.
inline constexpr std::uint64_t kBytesPerMegabyte = 1048576;
inline constexpr std::uint64_t kWarningMegabytes = 3072;
bool DiskSpaceShort(std::uint64_t freeBytes);

// Days kept for a retention code, nullopt for "0" or empty (no cleanup).
std::optional<int> RetentionDays(std::string_view saveCode);
// yyyymmdd of `today` minus `days`; throws std::invalid_argument when
// `today` is no "yyyy-mm-dd" date.
std::string CutoffStamp(std::string_view today, int days);

}  // namespace mvx
