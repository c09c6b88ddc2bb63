#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

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

  // Connects; the later items read nothing from the server when this failed. Every statement
  // after it waits at most 5 s for a lock and runs at most 30 s.
  CheckItem ServerItem();
  // The server's view of a slot; the folder's facts join it under SlotKey.
  CheckItem SlotItem(std::size_t slot);
  // What the server makes of the backup folder.
  CheckItem FolderItem();
  // The transport mode the tick reads: "2" is HTTP, anything else the line protocol.
  std::string TransportMode();
  // One item per key-part eligible slot, or one saying no slot is.
  std::vector<CheckItem> KeyPartItems();

 private:
  // The start adds the image database to the first empty slot when the server has it.
  std::string BrivellonJoins();
  std::string ServerBackup(const std::string& database, char type,
                           std::vector<CheckFigure>& figures, CheckStatus& status);
  // What the full pass does to the database besides the backup.
  bool FullPassDue() const;

  Settings& settings_;
  const ServiceOptions& options_;
  const LocalDateTime now_;
  SqlConnection connection_;
  bool connected_ = false;
};

}  // namespace mvx
