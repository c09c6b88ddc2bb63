#pragma once

#include <optional>
#include <string>
#include <vector>

#include "backup/backup_cleanup_choice.h"
#include "commands/operator_settings.h"
#include "common/clock.h"
#include "service/schedule.h"

namespace mvx {

// One slot in a day's backup pass: its file for the day and whether it is already there.
struct SlotBackupPlan {
  std::string database;
  std::string fileName;
  bool done = false;
};

struct CleanupPlanEntry {
  std::string database;
  CleanupPlanFile file;
  std::string reason;  // the verdict in words, or "deleted after today's full backup"
};

// How the ticks meet a pass on a day.
enum class DueKind {
  kNotDue,        // the schedule does not ask for it that day (or the ticks do no work)
  kNeverReached,  // asked for from a time that is never reached ("9:00")
  kDue,           // from `from` on, at the first tick after it
  kMayBeMissed,   // from a time later than 24:00 minus the tick interval
};

struct PassDue {
  DueKind kind = DueKind::kNotDue;
  std::string from;  // "hh:mm" as set, "00:00" for midnight; empty when not asked for
  bool Due() const { return kind == DueKind::kDue || kind == DueKind::kMayBeMissed; }
};

// What the agent would do on one day, from the settings and the backup folder alone.
struct DayPlan {
  std::string date;     // yyyy-mm-dd
  std::string weekday;  // 일 ... 토
  // Ticks do their work only with a server name, a login and a password.
  bool ticksWork = false;
  // Backup work, key-part runs, log trims and the cleanup need a backup folder and a slot.
  bool scheduleWorks = false;
  DaySchedule due;
  PassDue fullDue, differentialDue, keyPartDue;
  std::vector<SlotBackupPlan> full, differential;
  std::vector<std::string> keyPartDatabases;
  bool logTrimmed = false;  // entries older than 14 days go on the first tick
  bool logDeleted = false;  // the whole text log goes (its deletion date is 30 days back)
  std::vector<CleanupPlanEntry> cleanup;
  std::string cleanupError;  // the folder cannot be read: the tick's cleanup fails too
};

// Plans `days` days from `first` for the folder as it is now; each day's deletions are taken
// out before the next day is planned, and the files a day's backups write (assumed to
// succeed) are counted from that day's cleanup on. Reads the backup folder and the text log,
// writes nothing.
std::vector<DayPlan> PlanDays(const OperatorSettings& loaded, const LocalDateTime& first, int days);

}  // namespace mvx
