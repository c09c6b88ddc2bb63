#include "backup/backup_cleanup_choice.h"

#include <algorithm>

#include "backup/backup_engine.h"
#include "backup/backup_folder.h"
#include "backup/log_backup_choice.h"
#include "common/text_util.h"

namespace mvx {
namespace {

// The date of a listed name, which has the exact form "<name>(<8 digits>)<ext>", ".bad" after
// it for a backup set aside.
std::string_view StampOf(std::string_view name) {
  if (ParseSetAsideFileName(name)) name.remove_suffix(kSetAsideSuffix.size());
  constexpr std::size_t kFromEnd = kBackupStampLength + 1 + kBackupExtensions[0].size();
  return name.substr(name.size() - kFromEnd, kBackupStampLength);
}

}  // namespace

std::string_view CleanupVerdictText(CleanupVerdict verdict) {
  switch (verdict) {
    case CleanupVerdict::kDelete:
      return "older than the retention";
    case CleanupVerdict::kYoungerThanRetention:
      return "younger than the retention";
    case CleanupVerdict::kNewestOfItsKind:
      return "the newest of its database and extension";
    case CleanupVerdict::kNotItsNameForm:
      return "not of its own name form";
    case CleanupVerdict::kNoWriteBit:
      return "no write bit: the deletion is refused and reported (006)";
    case CleanupVerdict::kNeededByKeptFull:
      return "not older than the oldest full backup kept";
    case CleanupVerdict::kNoFullKept:
      return "no full backup kept to compare with";
  }
  return "";
}

std::vector<CleanupVerdict> ChooseOldBackups(const BackupFolderListing::Group& names,
                                             std::string_view cutoffStamp, bool keepNewest) {
  // The newest backup stays whatever its age: while backups keep failing (a full disk, a
  // folder the server may no longer write) it is the last good one, and only a newer backup
  // may replace it.
  std::string_view newest;
  for (const std::string& name : names) newest = std::max(newest, StampOf(name));
  std::vector<CleanupVerdict> verdicts;
  verdicts.reserve(names.size());
  for (const std::string& name : names) {
    const std::string_view stamp = StampOf(name);
    if (keepNewest && stamp == newest) {
      verdicts.push_back(CleanupVerdict::kNewestOfItsKind);
    } else if (!(stamp < cutoffStamp)) {
      verdicts.push_back(CleanupVerdict::kYoungerThanRetention);
    } else {
      verdicts.push_back(CleanupVerdict::kDelete);
    }
  }
  return verdicts;
}

std::vector<CleanupPlanFile> PlanOldBackups(BackupFolderListing& listing,
                                            const std::vector<std::string>& allNames,
                                            std::string_view save, std::string_view today,
                                            std::string_view database) {
  std::vector<CleanupPlanFile> plan;
  if (database.empty()) return plan;
  const std::optional<int> days = RetentionDays(save);
  if (!days) return plan;
  const std::string cutoff = CutoffStamp(today, *days);
  const std::string upperDatabase = UpperAscii(database);
  for (std::size_t pattern = 0; pattern < kBackupExtensions.size(); ++pattern) {
    for (const bool setAside : {false, true}) {
      BackupFolderListing::Group* files = setAside ? listing.FindSetAside(pattern, upperDatabase)
                                                   : listing.Find(pattern, upperDatabase);
      if (files == nullptr) continue;
      const std::vector<CleanupVerdict> verdicts = ChooseOldBackups(*files, cutoff, !setAside);
      BackupFolderListing::Group kept;
      for (std::size_t i = 0; i < files->size(); ++i) {
        std::string& name = (*files)[i];
        CleanupVerdict verdict = verdicts[i];
        if (verdict == CleanupVerdict::kDelete && !BackupFileWritable(listing.folder(), name)) {
          verdict = CleanupVerdict::kNoWriteBit;
        }
        plan.push_back({name, verdict});
        if (verdict != CleanupVerdict::kDelete) kept.push_back(std::move(name));
      }
      *files = std::move(kept);
    }
    // Names the part before their first "(" gives to the database that the exact form
    // gives to nobody or to another name.
    for (const std::string& name : allNames) {
      const std::size_t open = name.find('(');
      if (open == std::string::npos || BackupExtensionIndex(name) != static_cast<int>(pattern) ||
          UpperAscii(std::string_view(name).substr(0, open)) != upperDatabase) {
        continue;
      }
      const std::optional<BackupFileNameParts> parts = ParseBackupFileName(name);
      if (!parts || parts->upperName != upperDatabase) {
        plan.push_back({name, CleanupVerdict::kNotItsNameForm});
      }
    }
  }
  PlanOldLogBackups(listing, cutoff, upperDatabase, plan);
  return plan;
}

}  // namespace mvx
