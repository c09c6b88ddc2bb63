#include <exception>
#include <string>

#include "backup/backup_engine.h"
#include "backup/backup_file_name.h"
#include "backup/backup_folder.h"
#include "backup/backup_folder_listing.h"
#include "backup/backup_statements.h"
#include "common/text_log.h"
#include "common/text_util.h"
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

void BackupEngine::SetAsideFailedBackup(std::string_view database, std::string_view fileName) {
  ++folderWrites_;
  const std::string name(fileName.substr(fileName.find_last_of('\\') + 1));
  const std::optional<BackupFileNameParts> parts = ParseBackupFileName(name);
  std::string trouble;
  try {
    BackupFolderListing listing = BackupFolderListing::Read(settings_.bkPath);
    if (parts) {
      if (const BackupFolderListing::Group* older =
              listing.FindSetAside(parts->extension, parts->upperName)) {
        for (const std::string& old : *older) {
          if (!EqualsNoCase(old, name + std::string(kSetAsideSuffix))) {
            DeleteBackupFile(settings_.bkPath, old);
          }
        }
      }
    }
  } catch (const std::exception& error) {
    trouble = error.what();
  }
  // A file that cannot be renamed must not stand for the day's backup either.
  if (!SetAsideBackupFile(fileName) && !DeleteBackupFile(settings_.bkPath, name)) {
    trouble += (trouble.empty() ? "" : "; ") + std::string("the file stays as it is");
  }
  if (trouble.empty()) return;
  try {
    database_.textLog().WriteFileLog(std::string(kVerifyFailed) + " " + std::string(database) +
                                     " " + std::string(fileName) + ": " + trouble);
  } catch (const std::exception&) {
    // The activity row still tells the operator.
  }
}

void BackupEngine::RecordVerification(std::string_view database, Verification verification) {
  if (verification == Verification::kPassed) serviceTables_.WriteServiceLog(database, kVerifyDone);
  if (verification == Verification::kFailed) {
    serviceTables_.WriteServiceLog(database, kVerifyFailed);
  }
}

}  // namespace mvx
