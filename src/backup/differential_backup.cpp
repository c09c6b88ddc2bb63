#include "backup/backup_engine.h"
#include "backup/backup_statements.h"
#include "db/query_helpers.h"

namespace mvx {
namespace {

constexpr std::string_view kIncrementDone = "Increment Backup 완료";
constexpr std::string_view kIncrementFailed = "Increment Backup Fail!!!";
constexpr std::string_view kIncrementDoneCode = "013";
constexpr std::string_view kIncrementFailedCode = "003";

}  // namespace

void BackupEngine::BackupDatabaseDifferential(std::string_view database,
                                              std::string_view fileName) {
  // Judged by the statement's own error, as the full backup is.
  if (RunStatement(sqlQuery_, DifferentialBackupStatement(database, fileName, settings_.verify))
          .succeeded) {
    const Verification verified = VerifyBackup(database, fileName);
    const bool verifiedBad = verified == Verification::kFailed;
    if (verifiedBad) SetAsideFailedBackup(database, fileName);
    serviceTables_.WriteServiceLog(database, verifiedBad ? kIncrementFailed : kIncrementDone);
    RecordVerification(database, verified);
    SendEventReport(database, verifiedBad ? kIncrementFailedCode : kIncrementDoneCode);
  } else {
    RecordOutcome(database, kIncrementFailed, kIncrementFailedCode);
  }
}

}  // namespace mvx
