#include "commands/plan_day.h"

#include <algorithm>
#include <exception>
#include <map>
#include <utility>

#include "backup/backup_file_name.h"
#include "backup/backup_folder.h"
#include "backup/backup_folder_listing.h"
#include "commands/schedule_judgement.h"
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

PassDue DueOf(const std::optional<std::string>& from, bool works, int timerInt) {
  PassDue due;
  if (!works || !from) return due;
  due.from = from->empty() ? "00:00" : *from;
  due.kind = !ReachedToday(from)           ? DueKind::kNeverReached
             : MayBeMissed(from, timerInt) ? DueKind::kMayBeMissed
                                           : DueKind::kDue;
  return due;
}

// The name a pass writes for the day, without the folder, as the cleanup lists it.
std::string WrittenName(const SlotBackupPlan& slot) {
  const std::size_t slash = slot.fileName.find_last_of("\\/");
  return slash == std::string::npos ? slot.fileName : slot.fileName.substr(slash + 1);
}

// Counts the files the day's passes write and returns, for each, the file it replaces as the
// newest of its database and extension with the pass that wrote it.
std::map<std::string, std::string> AddWrittenFiles(BackupFolderListing& listing,
                                                   const DayPlan& plan) {
  std::map<std::string, std::string> replaced;
  for (const auto& [slots, kind] :
       {std::pair{&plan.full, "full"}, std::pair{&plan.differential, "differential"}}) {
    for (const SlotBackupPlan& slot : *slots) {
      if (slot.done) continue;
      const std::string name = WrittenName(slot);
      const std::optional<BackupFileNameParts> parts = ParseBackupFileName(name);
      if (!parts) continue;
      if (const BackupFolderListing::Group* files =
              listing.Find(parts->extension, parts->upperName)) {
        // A database in two slots is backed up once.
        if (std::find(files->begin(), files->end(), name) != files->end()) continue;
        std::string newest;
        for (const std::string& file : *files) {
          if (newest.empty() ||
              ParseBackupFileName(file)->stamp > ParseBackupFileName(newest)->stamp) {
            newest = file;
          }
        }
        replaced[newest] = kind;
      }
      listing.Add(name);
    }
  }
  return replaced;
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
    const int timerInt = CorrectedTimerInt(settings.timerInt);
    plan.fullDue = DueOf(plan.due.fullFrom, plan.scheduleWorks, timerInt);
    plan.differentialDue = DueOf(plan.due.differentialFrom, plan.scheduleWorks, timerInt);
    plan.keyPartDue = DueOf(plan.due.keyPartFrom, plan.scheduleWorks, timerInt);
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
      const std::map<std::string, std::string> replaced = AddWrittenFiles(*listing, plan);
      for (const std::string& database : settings.databases) {
        std::vector<CleanupPlanFile> files =
            PlanOldBackups(*listing, allNames, settings.save, plan.date, database);
        // Read by a person: by extension, then by name (dates in order); log backups, of no
        // listed extension, last.
        std::stable_sort(files.begin(), files.end(), [](const auto& a, const auto& b) {
          return std::pair(static_cast<unsigned>(BackupExtensionIndex(a.name)), a.name) <
                 std::pair(static_cast<unsigned>(BackupExtensionIndex(b.name)), b.name);
        });
        for (CleanupPlanFile& file : files) {
          const auto after = replaced.find(file.name);
          std::string reason = file.verdict == CleanupVerdict::kDelete && after != replaced.end()
                                   ? "deleted after today's " + after->second + " backup"
                                   : std::string(CleanupVerdictText(file.verdict));
          plan.cleanup.push_back({database, std::move(file), std::move(reason)});
        }
      }
    }
    plans.push_back(std::move(plan));
  }
  return plans;
}

}  // namespace mvx
