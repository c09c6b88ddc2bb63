#include "commands/plan_day.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "backup/backup_file_name.h"
#include "backup/backup_folder.h"
#include "backup/backup_folder_listing.h"
#include "common/ansi_codec.h"
#include "common/atomic_file.h"
#include "common/date_text.h"
#include "common/profile_file.h"
#include "common/scramble.h"

namespace mvx {
namespace {

constexpr long long kDayMs = 86400000LL;

std::vector<SlotBackupPlan> PassPlan(const Settings& settings, const std::string& date,
                                     std::string_view extension) {
  std::vector<SlotBackupPlan> slots;
  for (const std::string& database : settings.databases) {
    if (database.empty()) continue;
    SlotBackupPlan slot{database, BackupFileName(settings.bkPath, database, date, extension)};
    slot.done = BackupFileExists(slot.fileName);
    slots.push_back(std::move(slot));
  }
  return slots;
}

// The dates the text log's housekeeping remembers, as the tick reads them.
struct LogDates {
  std::string lastClear;     // "LogClear" of the log
  std::string lastDeletion;  // "AutoBackPgmLog" of the settings file
  bool logExists = false;
};

LogDates ReadLogDates(const OperatorSettings& loaded) {
  LogDates dates;
  const std::string logPath = loaded.agentDir + "RazuRarevi.Log";
  dates.logExists = FileExists(logPath);
  try {
    dates.lastClear = ProfileFile(logPath).ReadString("LogClear", "Date");
    dates.lastDeletion = FromAnsi(UnscrambleValue(
        ProfileFile(loaded.path).ReadString(kScheduleSection, ScrambleValue(kLogDeletionKey))));
  } catch (const std::exception&) {
    // Unreadable dates read as none, which is what the tick would make of them.
  }
  return dates;
}

}  // namespace

std::vector<DayPlan> PlanDays(const OperatorSettings& loaded, const LocalDateTime& first,
                              int days) {
  const Settings& settings = loaded.settings;
  std::optional<BackupFolderListing> listing;
  std::vector<std::string> allNames;
  std::string folderError;
  try {
    listing = BackupFolderListing::Read(settings.bkPath);
    allNames = ListBackupFolderFiles(
        settings.bkPath, [](std::string_view name) { return BackupExtensionIndex(name) >= 0; });
  } catch (const std::exception& e) {
    folderError = e.what();
  }
  LogDates log = ReadLogDates(loaded);

  std::vector<DayPlan> plans;
  for (int i = 0; i < days; ++i) {
    const LocalDateTime day = AddMilliseconds(first, i * kDayMs);
    DayPlan plan;
    plan.date = FormatDate(day);
    plan.weekday = KoreanWeekday(day.weekday);
    plan.ticksWork =
        !settings.serverName.empty() && !settings.login.empty() && !settings.password.empty();
    plan.scheduleWorks = plan.ticksWork && ScheduleHasWork(settings);
    plan.due = ScheduleForDay(settings, day);
    if (plan.ticksWork && log.lastDeletion < ShiftDateText(plan.date, -30) && log.logExists) {
      plan.logDeleted = true;
      log.lastDeletion = plan.date;
      log.logExists = false;
      log.lastClear.clear();
    }
    if (!plan.scheduleWorks) {
      plans.push_back(std::move(plan));
      continue;
    }
    if (ReachedToday(plan.due.fullFrom)) plan.full = PassPlan(settings, plan.date, ".ful");
    if (ReachedToday(plan.due.differentialFrom)) {
      plan.differential = PassPlan(settings, plan.date, ".inc");
    }
    if (ReachedToday(plan.due.keyPartFrom)) {
      for (std::size_t slot = 0; slot < settings.databases.size(); ++slot) {
        if (settings.keyPartEligible[slot]) {
          plan.keyPartDatabases.push_back(settings.databases[slot]);
        }
      }
    }
    plan.logTrimmed = log.lastClear < plan.date;
    log.lastClear = plan.date;
    if (!listing) {
      plan.cleanupError = folderError;
    } else {
      for (const std::string& database : settings.databases) {
        std::vector<CleanupPlanFile> files =
            PlanOldBackups(*listing, allNames, settings.save, plan.date, database);
        // Read by a person: by extension, then by name (dates in order); log backups, of no
        // listed extension, last.
        std::stable_sort(files.begin(), files.end(), [](const auto& a, const auto& b) {
          return std::pair(static_cast<unsigned>(BackupExtensionIndex(a.name)), a.name) <
                 std::pair(static_cast<unsigned>(BackupExtensionIndex(b.name)), b.name);
        });
        for (CleanupPlanFile& file : files) plan.cleanup.push_back({database, std::move(file)});
      }
    }
    plans.push_back(std::move(plan));
  }
  return plans;
}

}  // namespace mvx
