#include <exception>
#include <optional>
#include <string>

#include "backup/backup_engine.h"
#include "backup/backup_file_name.h"
#include "backup/backup_folder.h"
#include "backup/backup_statements.h"
#include "common/clock.h"
#include "common/date_text.h"
#include "common/text_log.h"
#include "db/query_helpers.h"

namespace mvx {
namespace {

constexpr std::string_view kLogBackupDone = "Log Backup 완료";
constexpr std::string_view kLogBackupFailed = "Log Backup Fail!!!";
constexpr std::string_view kVerifyFailed = "Verify Fail!!!";
constexpr std::string_view kFullRecovery = "FULL";
// The server's "no current database backup": the log chain broke (a switch to the simple
// recovery model, a restore) and only a full backup starts a new one.
constexpr int kChainBroken = 4214;
// Seconds tried past a name that is taken (a clock set back), so that no file is overwritten.
constexpr int kNameTries = 3600;

void WriteTextLog(TextLog& log, const std::string& message) {
  try {
    log.WriteFileLog(message);
  } catch (const std::exception&) {
    // The row still tells the operator; a log that cannot be written stops nothing.
  }
}

std::optional<std::string> ReadRecoveryModel(SqlQuery& query, std::string_view database) {
  try {
    OpenQuery(query, RecoveryModelQuery(database));
    std::string model = query.Eof() ? std::string() : query.FieldText(0);
    query.Close();
    return model;
  } catch (const std::exception&) {
    query.Close();
    return std::nullopt;
  }
}

}  // namespace

void BackupEngine::RunLogBackups() {
  // Without a backup folder the schedule takes no backups either.
  if (settings_.logBackupMinutes <= 0 || settings_.bkPath.empty()) return;
  if (!database_.ConnectDatabase()) return;
  ++folderWrites_;
  for (const std::string& database : settings_.databases) {
    // Between databases is the safe point for a stop, as in the passes.
    if (stopRequested_.load()) break;
    if (database.empty() || !LogBackupsApply(database)) continue;
    const LogBackupOutcome outcome = BackupLog(database);
    RecordLogBackup(database, outcome);
    if (outcome.result == LogBackupResult::kChainBroken && !stopRequested_.load()) {
      // The log backups after it go on from this full backup (it takes one itself).
      BackupDatabaseFull(database, BackupFileName(settings_.bkPath, database,
                                                  FormatDate(clock_.Now()), kFullBackupExtension));
    }
  }
  database_.DisconnectDatabase();
}

bool BackupEngine::LogBackupsApply(std::string_view database) {
  const std::optional<std::string> model = ReadRecoveryModel(sqlQuery_, database);
  if (model && *model == kFullRecovery) return true;
  if (logBackupsSkipped_.emplace(database).second) {
    WriteTextLog(database_.textLog(), "No log backups of " + std::string(database) +
                                          ": recovery model " +
                                          (!model           ? "unreadable"
                                           : model->empty() ? "unknown"
                                                            : *model) +
                                          ", not FULL");
  }
  return false;
}

BackupEngine::LogBackupOutcome BackupEngine::BackupLog(std::string_view database) {
  // The name says when the backup began; an existing file is never overwritten.
  LocalDateTime start = clock_.Now();
  std::string fileName = LogBackupFileName(settings_.bkPath, database, start);
  for (int i = 0; i < kNameTries && BackupFileExists(fileName); ++i) {
    start = AddMilliseconds(start, 1000);
    fileName = LogBackupFileName(settings_.bkPath, database, start);
  }
  const StatementOutcome outcome =
      RunStatement(sqlQuery_, LogBackupStatement(database, fileName, settings_.verify));
  if (!outcome.succeeded) {
    WriteTextLog(database_.textLog(), std::string(kLogBackupFailed) + " " + std::string(database) +
                                          " " + fileName + ": " + outcome.error);
    return {outcome.nativeError == kChainBroken ? LogBackupResult::kChainBroken
                                                : LogBackupResult::kFailed};
  }
  LogBackupOutcome done{LogBackupResult::kDone};
  if (settings_.verify) {
    const StatementOutcome verified = RunStatement(sqlQuery_, VerifyBackupStatement(fileName));
    if (!verified.succeeded && !stopRequested_.load()) {
      WriteTextLog(database_.textLog(), std::string(kVerifyFailed) + " " + std::string(database) +
                                            " " + fileName + ": " + verified.error);
      done.verifyFailed = true;
    }
  }
  return done;
}

void BackupEngine::RecordLogBackup(std::string_view database, const LogBackupOutcome& outcome) {
  if (outcome.result != LogBackupResult::kDone) {
    logBackupFailed_.emplace(database);
    serviceTables_.WriteServiceLog(database, kLogBackupFailed);
    return;
  }
  // Only a failed verification gets a row: one every few minutes would bury the table.
  if (outcome.verifyFailed) serviceTables_.WriteServiceLog(database, kVerifyFailed);
  const auto failed = logBackupFailed_.find(database);
  if (failed != logBackupFailed_.end()) {
    logBackupFailed_.erase(failed);
    serviceTables_.WriteServiceLog(database, kLogBackupDone);
  }
}

std::optional<BackupEngine::LogBackupOutcome> BackupEngine::KeepLogChain(
    std::string_view database) {
  if (!LogBackupsApply(database)) return std::nullopt;
  return BackupLog(database);
}

}  // namespace mvx
