#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "backup/backup_engine.h"
#include "backup/backup_folder.h"
#include "common/date_text.h"
#include "common/text_util.h"

namespace mvx {
namespace {

constexpr std::string_view kOldFileDeleted = "Old File Delete";
constexpr std::string_view kDeleteFailedCode = "006";
// The date of a listed name, which has the exact form "<name>(<8 digits>)<ext>".
std::string_view StampOf(std::string_view name) {
  constexpr std::size_t kFromEnd = kBackupStampLength + 1 + kBackupExtensions[0].size();
  return name.substr(name.size() - kFromEnd, kBackupStampLength);
}

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
  for (std::size_t pattern = 0; pattern < kBackupExtensions.size(); ++pattern) {
    BackupFolderListing::Group* files = listing.Find(pattern, upperDatabase);
    if (files == nullptr) continue;
    // The newest backup stays whatever its age: while backups keep failing
    // (a full disk, a folder the server may no longer write) it is the last
    // good one, and only a newer backup may replace it.
    std::string newest;  // a copy: the names move below
    for (const std::string& name : *files) newest = std::max(newest, std::string(StampOf(name)));
    BackupFolderListing::Group kept;
    kept.reserve(files->size());
    for (std::string& name : *files) {
      const std::string_view stamp = StampOf(name);
      if (stamp == newest || !(stamp < std::string_view(cutoff))) {
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
  }
  if (deletionFailed) engine_.SendEventReport(database, kDeleteFailedCode);
}

}  // namespace mvx
