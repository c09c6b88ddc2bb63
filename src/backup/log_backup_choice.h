#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "backup/backup_cleanup_choice.h"
#include "backup/backup_folder_listing.h"

namespace mvx {

// The date stamp of the oldest full backup (".ful", ".trf") the listing holds for the database;
// nullopt when it holds none.
std::optional<std::string> OldestFullStamp(BackupFolderListing& listing,
                                           const std::string& upperDatabase);

// The verdict on each log backup name of one database, in the same order. A log backup goes
// only when its day is before the cut-off and before the day of the oldest full backup kept:
// restoring that full to a moment needs every log backup taken after it, and a full backup's
// file tells only its day.
std::vector<CleanupVerdict> ChooseOldLogBackups(const BackupFolderListing::Group& names,
                                                std::string_view cutoffStamp,
                                                const std::optional<std::string>& oldestKeptFull);

// What the cleanup does to the database's log backups in the listing, appended to `plan`; the
// ones it deletes are taken out of the listing. Call after the full backups were planned.
void PlanOldLogBackups(BackupFolderListing& listing, std::string_view cutoffStamp,
                       const std::string& upperDatabase, std::vector<CleanupPlanFile>& plan);

}  // namespace mvx
