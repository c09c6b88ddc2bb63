#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "backup/backup_folder_listing.h"
#include "commands/check_items.h"
#include "common/clock.h"
#include "config/settings.h"
#include "db/sql_connection.h"
#include "service/tf_mvx_backup_main.h"

namespace mvx {

// The items read from the configured SQL Server over one connection, which they share with
// what they learnt from it. Only reads: queries that change nothing.
class DatabaseChecks {
 public:
  // `settings` is the check's own copy: ServerItem may add the image database to a slot, as
  // the next start would.
  DatabaseChecks(Settings& settings, const ServiceOptions& options, const LocalDateTime& now)
      : settings_(settings), options_(options), now_(now) {}

  // Connects; the later items read nothing from the server when this failed.
  CheckItem ServerItem();
  // Lists the backup folder for the slot items.
  void ReadBackupFolder();
  CheckItem SlotItem(std::size_t slot);
  // What the server makes of the backup folder, and the free space beside the databases.
  CheckItem FolderItem();
  // The transport mode the tick reads: "2" is HTTP, anything else the line protocol.
  std::string TransportMode();
  // One item per key-part eligible slot, or one saying no slot is.
  std::vector<CheckItem> KeyPartItems();

 private:
  // The start adds the image database to the first empty slot when the server has it.
  std::string BrivellonJoins();
  std::string NewestFile(const std::string& database, std::size_t extension);
  std::string ServerBackup(const std::string& database, char type,
                           std::vector<CheckFigure>& figures);

  Settings& settings_;
  const ServiceOptions& options_;
  const LocalDateTime now_;
  SqlConnection connection_;
  bool connected_ = false;
  std::optional<BackupFolderListing> listing_;
};

}  // namespace mvx
