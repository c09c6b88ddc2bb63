#include "service/schedule.h"

#include <algorithm>
#include <exception>
#include <span>

#include "common/date_text.h"

namespace mvx {
namespace {

// The set time when the rule ("1" day of month, "2" Korean weekday, "3" every day) names the
// day; any other rule takes no backups.
std::optional<std::string> DueFrom(std::string_view type, std::span<const std::string> days,
                                   const std::string& time, std::string_view dayOfMonth,
                                   std::string_view weekday) {
  auto listed = [&](std::string_view day) {
    return std::find(days.begin(), days.end(), day) != days.end();
  };
  if ((type == "1" && listed(dayOfMonth)) || (type == "2" && listed(weekday)) || type == "3") {
    return time;
  }
  return std::nullopt;
}

// The weekly key-part run of every eligible slot on the KeyWeek day from KeyTime on; the runs
// themselves make sure a database completes at most one a day. A run that raises ends only its
// own slot's run: the later slots, and the cleanup, still follow.
void RunWeeklyKeyParts(const Settings& settings, const std::string& today, bool due,
                       ScheduleActions& actions) {
  if (!due) return;
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

DaySchedule ScheduleForDay(const Settings& settings, const LocalDateTime& day) {
  const std::string dayOfMonth = FormatDate(day).substr(8, 2);
  const std::string weekday = KoreanWeekday(day.weekday);
  DaySchedule schedule;
  schedule.fullFrom =
      DueFrom(settings.fullType, settings.fullDays, settings.fullTime, dayOfMonth, weekday);
  schedule.differentialFrom =
      DueFrom(settings.incType, settings.incDays, settings.incTime, dayOfMonth, weekday);
  if (weekday == settings.keyWeek) schedule.keyPartFrom = settings.keyTime;
  return schedule;
}

bool DueAt(const std::optional<std::string>& from, std::string_view nowTime) {
  // Times are compared as texts, so "9:00" is never reached: hours need two digits.
  return from && nowTime >= *from;
}

bool ReachedToday(const std::optional<std::string>& from) { return DueAt(from, "23:59"); }

int CorrectedTimerInt(int timerInt) {
  constexpr int kFloor = 500;
  constexpr int kFallback = 1000;
  return timerInt < kFloor ? kFallback : timerInt;
}

bool ScheduleHasWork(const Settings& settings) {
  return !settings.bkPath.empty() &&
         std::any_of(settings.databases.begin(), settings.databases.end(),
                     [](const std::string& name) { return !name.empty(); });
}

void EvaluateSchedule(const Settings& settings, const Clock& clock, ScheduleActions& actions) {
  if (settings.dbPath.empty()) {
    actions.WriteServiceLog("", "DB Path 지정안되어 있슴");
    actions.SendReport("2", "", "008");
  }
  if (!ScheduleHasWork(settings)) return;

  // Two readings: at 23:59:59.999 they may fall on different days; the date
  // of the first and the time of the second are used.
  const LocalDateTime first = clock.Now();
  const LocalDateTime second = clock.Now();
  const std::string today = FormatDate(first);
  const std::string nowTime = FormatTimeOfDay(second);
  const DaySchedule day = ScheduleForDay(settings, first);

  actions.ClearOldLogEntries(today);
  if (actions.StopRequested()) return;
  if (DueAt(day.fullFrom, nowTime)) actions.RunFullBackups(today);
  if (actions.StopRequested()) return;
  if (DueAt(day.differentialFrom, nowTime)) actions.RunDifferentialBackups(today);
  RunWeeklyKeyParts(settings, today, DueAt(day.keyPartFrom, nowTime), actions);
  for (const std::string& database : settings.databases) {
    if (actions.StopRequested()) return;
    actions.RemoveOldBackups(today, database);
  }
}

}  // namespace mvx
