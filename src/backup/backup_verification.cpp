#include <exception>
#include <string>

#include "backup/backup_engine.h"
#include "backup/backup_statements.h"
#include "common/text_log.h"
#include "db/query_helpers.h"

namespace mvx {
namespace {

constexpr std::string_view kVerifyDone = "Verify 완료";
constexpr std::string_view kVerifyFailed = "Verify Fail!!!";

}  // namespace

BackupEngine::Verification BackupEngine::VerifyBackup(std::string_view database,
                                                      std::string_view fileName) {
  if (!settings_.verify) return Verification::kOff;
  const StatementOutcome outcome = RunStatement(sqlQuery_, VerifyBackupStatement(fileName));
  if (outcome.succeeded) return Verification::kPassed;
  if (stopRequested_.load()) return Verification::kCutShort;
  try {
    database_.textLog().WriteFileLog(std::string(kVerifyFailed) + " " + std::string(database) +
                                     " " + std::string(fileName) + ": " + outcome.error);
  } catch (const std::exception&) {
    // The row still tells the operator; a log that cannot be written stops nothing.
  }
  return Verification::kFailed;
}

void BackupEngine::RecordVerification(std::string_view database, Verification verification) {
  if (verification == Verification::kPassed) serviceTables_.WriteServiceLog(database, kVerifyDone);
  if (verification == Verification::kFailed) {
    serviceTables_.WriteServiceLog(database, kVerifyFailed);
  }
}

}  // namespace mvx
