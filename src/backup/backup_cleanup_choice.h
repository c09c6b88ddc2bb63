#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "backup/backup_folder_listing.h"

namespace mvx {

// Why the cleanup deletes or keeps a file of a database's kinds.
enum class CleanupVerdict {
  kDelete,
  kYoungerThanRetention,
  kNewestOfItsKind,  // the newest of its database and extension: the last good backup
  kNotItsNameForm,   // "<name>(" begins it, but it is no "<name>(<8 digits>)<ext>"
  kNoWriteBit,       // old enough, but the system refuses it (read-only); the cleanup reports it
  // Log backups: not older than the oldest full backup kept, or none is kept to compare with.
  kNeededByKeptFull,
  kNoFullKept,
};

// What a verdict says, in a few words ("younger than the retention", ...).
std::string_view CleanupVerdictText(CleanupVerdict verdict);

// The verdict on each name of one database and extension (names of the exact form), in the
// same order: older than the cut-off stamp goes unless it is the newest. Backups set aside
// ("<name>.bad", `keepNewest` false) are no last good backup: their age alone decides.
std::vector<CleanupVerdict> ChooseOldBackups(const BackupFolderListing::Group& names,
                                             std::string_view cutoffStamp, bool keepNewest = true);

struct CleanupPlanFile {
  std::string name;
  CleanupVerdict verdict;
};

// What RemoveOldBackups(today, database) would do to the folder the listing holds, deleting
// nothing: every file of the database's four kinds with its verdict, in the cleanup's order.
// The files it would delete are taken out of the listing, so a next call (another slot,
// another day) sees the folder as the cleanup would leave it. `allNames` are the folder's
// names that carry a backup extension, of the exact form or not. Its log backups come last.
// Throws as RemoveOldBackups does when `today` is no date.
std::vector<CleanupPlanFile> PlanOldBackups(BackupFolderListing& listing,
                                            const std::vector<std::string>& allNames,
                                            std::string_view save, std::string_view today,
                                            std::string_view database);

}  // namespace mvx
