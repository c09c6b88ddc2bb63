#pragma once

#include <string>

#include "common/clock.h"
#include "config/settings.h"

namespace mvx {

// The schedule in words: "full on Fridays from 17:00, differential on the other days from
// 17:00, every 1800 s, 30 days kept".
std::string ScheduleInWords(const Settings& settings);

// Days the newest full backup may be old: the longest gap between two due full-backup days
// plus one (8 for a weekly full); 0 when no full backup is ever due.
int AllowedFullBackupAge(const Settings& settings, const LocalDateTime& today);

}  // namespace mvx
