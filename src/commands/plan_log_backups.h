#pragma once

#include <string>

#include "config/settings.h"

namespace mvx {

// A day's log backups in words: "every 15 min (96 a day) for each slot database in full
// recovery"; empty with LogBackup off.
std::string LogBackupPlanText(const Settings& settings);
// The same as a JSON object ({"everyMinutes":15,"perDay":96}); empty with LogBackup off.
std::string LogBackupPlanJson(const Settings& settings);

}  // namespace mvx
