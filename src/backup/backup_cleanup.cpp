#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "backup/backup_cleanup_choice.h"
#include "backup/backup_engine.h"
#include "backup/backup_folder.h"
#include "backup/log_backup_choice.h"
#include "common/date_text.h"
#include "common/text_util.h"

namespace mvx {
namespace {

constexpr std::string_view kOldFileDeleted = "Old File Delete";
constexpr std::string_view kDeleteFailedCode = "006";

}  // namespace

std::optional<int> RetentionDays(std::string_view saveCode) {
  if (saveCode.empty() || saveCode == "0") return std::nullopt;
  if (saveCode == "1") return 7;
  if (saveCode == "2") return 14;
  if (saveCode == "3") return 21;
  if (saveCode == "4") return 30;
  if (saveCode == "5") return 60;
  return 90;
}

std::string CutoffStamp(std::string_view today, int days) {
  // ShiftDateText hands back what it cannot read as a date unchanged; a real
  // date moved by a day never is.
  if (ShiftDateText(today, 1) == today) {
    throw std::invalid_argument("'" + std::string(today) + "' is not a valid date");
  }
  return DateStamp(ShiftDateText(today, -days));
}

void BackupEngine::RemoveOldBackups(std::string_view today, std::string_view database) {
  CleanupRound(*this).RemoveOldBackups(today, database);
}

CleanupRound BackupEngine::BeginCleanupRound() { return CleanupRound(*this); }

BackupFolderListing& CleanupRound::Listing() {
  const std::string& folder = engine_.settings_.bkPath;
  // The process's current folder is shared with other threads, so the
  // folder is read by its path instead of being made the current one; an
  // unreadable folder throws as a failed change of folder would.
  if (!listing_ || listing_->folder() != folder || listedAtWrites_ != engine_.folderWrites_) {
    listing_.reset();
    listing_ = BackupFolderListing::Read(folder);
    listedAtWrites_ = engine_.folderWrites_;
  }
  return *listing_;
}

void CleanupRound::RemoveOldBackups(std::string_view today, std::string_view database) {
  if (database.empty()) return;
  const std::optional<int> days = RetentionDays(engine_.settings_.save);
  if (!days) return;
  const std::string cutoff = CutoffStamp(today, *days);
  BackupFolderListing& listing = Listing();
  const std::string& folder = listing.folder();

  const std::string upperDatabase = UpperAscii(database);
  bool deletionFailed = false;
  const auto remove = [&](BackupFolderListing::Group* files,
                          const std::vector<CleanupVerdict>& verdicts) {
    BackupFolderListing::Group kept;
    kept.reserve(files->size());
    for (std::size_t i = 0; i < files->size(); ++i) {
      std::string& name = (*files)[i];
      if (verdicts[i] != CleanupVerdict::kDelete) {
        kept.push_back(std::move(name));
      } else if (DeleteBackupFile(folder, name)) {
        engine_.serviceTables_.WriteServiceLog("",
                                               std::string(kOldFileDeleted) + folder + "\\" + name);
      } else {
        deletionFailed = true;
        kept.push_back(std::move(name));
      }
    }
    *files = std::move(kept);
  };
  for (std::size_t pattern = 0; pattern < kBackupExtensions.size(); ++pattern) {
    for (const bool setAside : {false, true}) {
      BackupFolderListing::Group* files = setAside ? listing.FindSetAside(pattern, upperDatabase)
                                                   : listing.Find(pattern, upperDatabase);
      if (files != nullptr) remove(files, ChooseOldBackups(*files, cutoff, !setAside));
    }
  }
  // Log backups last: their verdicts ask which full backups stay.
  if (BackupFolderListing::Group* logs = listing.FindLogBackups(upperDatabase)) {
    remove(logs, ChooseOldLogBackups(*logs, cutoff, OldestFullStamp(listing, upperDatabase)));
  }
  if (deletionFailed) engine_.SendEventReport(database, kDeleteFailedCode);
}

}  // namespace mvx
