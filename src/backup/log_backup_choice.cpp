#include "backup/log_backup_choice.h"

#include <algorithm>

#include "backup/backup_file_name.h"
#include "backup/backup_folder.h"

namespace mvx {
namespace {

// The day of a listed name: "<name>(<yyyymmdd>-<hhmmss>).trn".
std::string_view DayOf(std::string_view name) {
  constexpr std::size_t kFromEnd = kLogBackupStampLength + 1 + kLogBackupExtension.size();
  return name.substr(name.size() - kFromEnd, kBackupStampLength);
}

// The day of a listed full backup: "<name>(<yyyymmdd>)<ext>".
std::string_view FullDayOf(std::string_view name) {
  constexpr std::size_t kFromEnd = kBackupStampLength + 1 + kBackupExtensions[0].size();
  return name.substr(name.size() - kFromEnd, kBackupStampLength);
}

}  // namespace

std::optional<std::string> OldestFullStamp(BackupFolderListing& listing,
                                           const std::string& upperDatabase) {
  std::optional<std::string> oldest;
  for (const std::string_view extension : {kFullBackupExtension, std::string_view(".trf")}) {
    const auto index = static_cast<std::size_t>(
        std::find(kBackupExtensions.begin(), kBackupExtensions.end(), extension) -
        kBackupExtensions.begin());
    const BackupFolderListing::Group* files = listing.Find(index, upperDatabase);
    if (files == nullptr) continue;
    for (const std::string& name : *files) {
      const std::string_view day = FullDayOf(name);
      if (!oldest || day < *oldest) oldest = std::string(day);
    }
  }
  return oldest;
}

std::vector<CleanupVerdict> ChooseOldLogBackups(const BackupFolderListing::Group& names,
                                                std::string_view cutoffStamp,
                                                const std::optional<std::string>& oldestKeptFull) {
  std::vector<CleanupVerdict> verdicts;
  verdicts.reserve(names.size());
  for (const std::string& name : names) {
    const std::string_view day = DayOf(name);
    if (!(day < cutoffStamp)) {
      verdicts.push_back(CleanupVerdict::kYoungerThanRetention);
    } else if (!oldestKeptFull) {
      verdicts.push_back(CleanupVerdict::kNoFullKept);
    } else if (!(day < *oldestKeptFull)) {
      verdicts.push_back(CleanupVerdict::kNeededByKeptFull);
    } else {
      verdicts.push_back(CleanupVerdict::kDelete);
    }
  }
  return verdicts;
}

void PlanOldLogBackups(BackupFolderListing& listing, std::string_view cutoffStamp,
                       const std::string& upperDatabase, std::vector<CleanupPlanFile>& plan) {
  BackupFolderListing::Group* logs = listing.FindLogBackups(upperDatabase);
  if (logs == nullptr) return;
  const std::vector<CleanupVerdict> verdicts =
      ChooseOldLogBackups(*logs, cutoffStamp, OldestFullStamp(listing, upperDatabase));
  BackupFolderListing::Group kept;
  for (std::size_t i = 0; i < logs->size(); ++i) {
    CleanupVerdict verdict = verdicts[i];
    if (verdict == CleanupVerdict::kDelete && !BackupFileWritable(listing.folder(), (*logs)[i])) {
      verdict = CleanupVerdict::kNoWriteBit;
    }
    plan.push_back({(*logs)[i], verdict});
    if (verdict != CleanupVerdict::kDelete) kept.push_back(std::move((*logs)[i]));
  }
  *logs = std::move(kept);
}

}  // namespace mvx
