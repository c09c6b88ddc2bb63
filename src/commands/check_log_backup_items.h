#pragma once

#include <vector>

#include "commands/check_items.h"
#include "commands/operator_settings.h"
#include "common/clock.h"
#include "service/tf_mvx_backup_main.h"

namespace mvx {

// With LogBackup on, one item per slot, "Log backups <db>": WARN when the database is not in
// the full recovery model (it gets no log backups), FAIL when the agent runs (or is paused) and the
// newest log backup in the folder is older than three intervals. The recovery model comes from the
// slot items already made (`slotItems`); the agent's state from the service manager.
std::vector<CheckItem> LogBackupItems(const OperatorSettings& loaded, const ServiceOptions& options,
                                      const std::vector<CheckItem>& slotItems, const Clock& clock);

}  // namespace mvx
