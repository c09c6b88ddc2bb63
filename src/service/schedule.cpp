#include "service/schedule.h"

#include <algorithm>
#include <exception>
#include <span>

#include "common/date_text.h"

namespace mvx {
namespace {

// True when the rule ("1" day of month, "2" Korean weekday, "3" every day) names today
// and now is not before the set time.
bool BackupDue(std::string_view type, std::span<const std::string> days, std::string_view time,
               std::string_view dayOfMonth, std::string_view weekday, std::string_view nowTime) {
  // Times are compared as texts, so "9:00" is never reached: hours need two digits.
  const bool timeReached = nowTime >= time;
  auto listed = [&](std::string_view day) {
    return std::find(days.begin(), days.end(), day) != days.end();
  };
  if (type == "1") return listed(dayOfMonth) && timeReached;
  if (type == "2") return listed(weekday) && timeReached;
  if (type == "3") return timeReached;
  return false;
}

// The weekly key-part run of every eligible slot on the KeyWeek day from KeyTime on; the runs
// themselves make sure a database completes at most one a day. A run that raises ends only its
// own slot's run: the later slots, and the cleanup, still follow.
void RunWeeklyKeyParts(const Settings& settings, const std::string& today,
                       const std::string& weekday, const std::string& nowTime,
                       ScheduleActions& actions) {
  if (weekday != settings.keyWeek || nowTime < settings.keyTime) return;
  for (std::size_t slot = 0; slot < settings.databases.size(); ++slot) {
    if (actions.StopRequested()) return;
    if (!settings.keyPartEligible[slot]) continue;
    const std::string& database = settings.databases[slot];
    try {
      actions.RunKeyPartMaintenance("2", today, database);
    } catch (const std::exception& e) {
      actions.KeyPartRunFailed(database, e.what());
    } catch (...) {
      actions.KeyPartRunFailed(database, "unknown error");
    }
  }
}

}  // namespace

void EvaluateSchedule(const Settings& settings, const Clock& clock, ScheduleActions& actions) {
  if (settings.dbPath.empty()) {
    actions.WriteServiceLog("", "DB Path 지정안되어 있슴");
    actions.SendReport("2", "", "008");
  }
  if (settings.bkPath.empty()) return;
  if (std::all_of(settings.databases.begin(), settings.databases.end(),
                  [](const std::string& name) { return name.empty(); })) {
    return;
  }

  // Two readings: at 23:59:59.999 they may fall on different days; the date
  // of the first and the time of the second are used.
  const LocalDateTime first = clock.Now();
  const LocalDateTime second = clock.Now();
  const std::string today = FormatDate(first);
  const std::string nowTime = FormatTimeOfDay(second);
  const std::string dayOfMonth = today.substr(8, 2);
  const std::string weekday = KoreanWeekday(first.weekday);

  actions.ClearOldLogEntries(today);
  if (actions.StopRequested()) return;
  if (BackupDue(settings.fullType, settings.fullDays, settings.fullTime, dayOfMonth, weekday,
                nowTime)) {
    actions.RunFullBackups(today);
  }
  if (actions.StopRequested()) return;
  if (BackupDue(settings.incType, settings.incDays, settings.incTime, dayOfMonth, weekday,
                nowTime)) {
    actions.RunDifferentialBackups(today);
  }
  RunWeeklyKeyParts(settings, today, weekday, nowTime, actions);
  for (const std::string& database : settings.databases) {
    if (actions.StopRequested()) return;
    actions.RemoveOldBackups(today, database);
  }
}

}  // namespace mvx
