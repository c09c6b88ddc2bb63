#include <exception>
#include <optional>
#include <string>

#include "backup/backup_engine.h"
#include "backup/backup_statements.h"
#include "db/query_helpers.h"

namespace mvx {
namespace {

constexpr std::string_view kFullDone = "Full Backup 완료";
constexpr std::string_view kFullFailed = "Full Backup Fail!!!";
constexpr std::string_view kFullDoneCode = "012";
constexpr std::string_view kFullFailedCode = "002";
constexpr std::string_view kRecoveryFullFailed = "Recovery FULL Fail!!!";

// The logical name of the current database's log file; nullopt when it
// cannot be read. A connection lost since "use" would be reopened in the
// connection database, whose log is not the one to shrink: that counts as a
// failed read, as it would on the broken link itself.
std::optional<std::string> ReadLogFileName(const SqlConnection& connection, SqlQuery& query) {
  if (!connection.IsOpen()) return std::nullopt;
  try {
    OpenQuery(query, kLogFileQuery);
    std::string name = query.FieldText(0);
    query.Close();
    return name;
  } catch (const std::exception&) {
    query.Close();
    return std::nullopt;
  }
}

// Never leave the database in the simple recovery model silently: its log
// backups would break until the next full backup. A refusal, or a link lost
// during the shrink, gets one more try on a reopened connection.
bool SwitchBackToFull(Database& database, SqlQuery& query, std::string_view name) {
  // A stop never cuts this short: each try runs on a bound of its own instead.
  const SqlConnection::Hold hold(database.connection());
  const std::string statement = RecoveryFullStatement(name);
  if (RunStatement(query, statement).succeeded) return true;
  database.DisconnectDatabase();
  return database.ConnectDatabase() && RunStatement(query, statement).succeeded;
}

}  // namespace

void BackupEngine::BackupDatabaseFull(std::string_view database, std::string_view fileName) {
  SqlQuery& query = sqlQuery_;

  // Judged by the statement's own error: a BACKUP may report it only after
  // its progress messages, and its row count says nothing either way.
  if (!RunStatement(query, FullBackupStatement(database, fileName, settings_.verify)).succeeded) {
    RecordOutcome(database, kFullFailed, kFullFailedCode);
    return;
  }
  const Verification verified = VerifyBackup(database, fileName);
  const bool verifiedBad = verified == Verification::kFailed;
  if (verifiedBad) SetAsideFailedBackup(database, fileName);

  // The log shrink acts on the current database's log, so it runs only when
  // the switch to this database really happened.
  bool fullRestored = true;
  std::optional<SqlConnection::StopWaits> undo;
  std::optional<SqlConnection::Hold> outcomeRows;
  std::optional<LogBackupOutcome> logBackup;
  // A stop that came during the backup leaves the log as it is: the switch to SIMPLE is never
  // begun once the service is stopping, so a stop that must give up cannot leave it there.
  if (!stopRequested_.load() && RunStatement(query, UseDatabaseStatement(database)).succeeded) {
    // With log backups the log is backed up instead of emptied through SIMPLE, which
    // would break their chain.
    const bool keepChain = settings_.logBackupMinutes > 0;
    if (keepChain) {
      logBackup = KeepLogChain(database);
    } else {
      // From the switch to SIMPLE until the outcome rows are written, a stop waits for this
      // database (the shrink stays cancellable); the rows after the switch back are never cut.
      undo.emplace(database_.connection(), std::string(database));
      ExecuteStatement(query, RecoverySimpleStatement(database));
    }
    const std::optional<std::string> logFile = ReadLogFileName(database_.connection(), query);
    if (logFile) ExecuteStatement(query, ShrinkFileStatement(*logFile));
    if (!keepChain) {
      fullRestored = SwitchBackToFull(database_, query, database);
      outcomeRows.emplace(database_.connection());
    }
    if (!logFile) {
      serviceTables_.WriteServiceLog(database, kFullFailed);
      RecordVerification(database, verified);
      if (!fullRestored) serviceTables_.WriteServiceLog(database, kRecoveryFullFailed);
      if (logBackup) RecordLogBackup(database, *logBackup);
      outcomeRows.reset();
      undo.reset();
      SendEventReport(database, kFullFailedCode);
      return;
    }
  }
  ExecuteStatement(query, kUseMaster);
  // The backup file exists, so the outcome is a success unless its
  // verification failed; the operator reads the recovery model's trouble in a
  // row of its own, written before the report, which may fail.
  serviceTables_.WriteServiceLog(database, verifiedBad ? kFullFailed : kFullDone);
  RecordVerification(database, verified);
  if (!fullRestored) serviceTables_.WriteServiceLog(database, kRecoveryFullFailed);
  if (logBackup) RecordLogBackup(database, *logBackup);
  outcomeRows.reset();
  undo.reset();
  SendEventReport(database, verifiedBad ? kFullFailedCode : kFullDoneCode);
}

}  // namespace mvx
