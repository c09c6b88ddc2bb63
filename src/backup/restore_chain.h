#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "backup/backup_folder_listing.h"

namespace mvx {

// The backup files that bring a database back as it was on one day: a full
// backup and, when there is one, the differential taken since it.
struct RestoreChain {
  std::string folder;        // as BKPath holds it
  std::string full;          // file names inside the folder
  std::string differential;  // empty: the full alone

  // The paths the server reads, formed as the backups formed them.
  std::string FullPath() const;
  std::string DifferentialPath() const;
};

// The newest full file (.ful or .trf) of `database` dated on or before
// `untilStamp` (yyyymmdd), then the newest differential (.inc or .tri) dated
// from that full's day to `untilStamp`: a differential holds every change
// since its full, so one is enough. Names are matched as the cleanup matches
// them; on one day the agent's own extensions win. nullopt without a full.
std::optional<RestoreChain> ChooseRestoreChain(BackupFolderListing& listing,
                                               std::string_view database,
                                               std::string_view untilStamp);

}  // namespace mvx
