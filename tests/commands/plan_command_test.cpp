// The plan of each day of a simulated month against what the schedule evaluation asked for
// when the clock went through that day tick by tick.

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <optional>

#include "commands/plan_day.h"
#include "common/date_text.h"
#include "service/schedule.h"

namespace mvx {
namespace {

constexpr int kTickMinutes = 30;
constexpr int kMonthDays = 31;

// What the evaluations of one day asked for: the time of the first request of each kind.
struct DayRecord {
  std::optional<std::string> full, differential, keyPart;
};

class RecordingActions final : public ScheduleActions {
 public:
  void WriteServiceLog(std::string_view, std::string_view) override {}
  void SendReport(std::string_view, std::string_view, std::string_view) override {}
  void ClearOldLogEntries(std::string_view) override {}
  void RunFullBackups(std::string_view today) override { Once(days[std::string(today)].full); }
  void RunDifferentialBackups(std::string_view today) override {
    Once(days[std::string(today)].differential);
  }
  void RunKeyPartMaintenance(std::string_view, std::string_view today, std::string_view) override {
    Once(days[std::string(today)].keyPart);
  }
  void KeyPartRunFailed(std::string_view, std::string_view) override {}
  void RemoveOldBackups(std::string_view, std::string_view) override {}
  bool StopRequested() const override { return false; }

  void Once(std::optional<std::string>& first) {
    if (!first) first = now;
  }
  std::string now;  // "hh:mm" of the running evaluation
  std::map<std::string, DayRecord> days;
};

// The first tick of the day at or after the plan's time: when the tick asks for it.
std::optional<std::string> FirstTick(const std::optional<std::string>& from) {
  if (!ReachedToday(from)) return std::nullopt;
  for (int minute = 0; minute < 24 * 60; minute += kTickMinutes) {
    const std::string time =
        FormatTimeOfDay(LocalDateTime::Make(2024, 1, 1, minute / 60, minute % 60));
    if (time >= *from) return time;
  }
  return std::nullopt;
}

TEST(PlanCommandTest, EachDayOfAMonthIsWhatTheTickDid) {
  struct Case {
    std::string what;
    std::function<void(Settings&)> set;
  };
  const std::vector<Case> cases = {
      {"defaults: weekly full, differential on the other days", [](Settings&) {}},
      {"days of the month, one not zero-padded",
       [](Settings& s) {
         s.fullType = "1";
         s.fullDays = {"01", "15", "7"};
         s.fullTime = "08:10";
       }},
      {"every day from midnight, a time that is never reached",
       [](Settings& s) {
         s.fullType = "3";
         s.fullTime = "";
         s.incTime = "9:00";
       }},
      {"times later than the last tick of the day",
       [](Settings& s) {
         s.fullTime = "23:45";
         s.incTime = "23:30";
       }},
      {"key-part on Wednesdays, no differentials",
       [](Settings& s) {
         s.incType = "0";
         s.keyWeek = "수";
         s.keyTime = "02:45";
         s.databases[1] = "ZOLTMARKEN_A";
         s.keyPartEligible[1] = true;
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    OperatorSettings loaded;
    LoadSettings(loaded.settings, "/nonexistent/RazuRarevi.ini", false);
    loaded.settings.bkPath = "/nonexistent/backups";
    c.set(loaded.settings);
    const LocalDateTime first = LocalDateTime::Make(2024, 2, 20);

    RecordingActions actions;
    for (int tick = 0; tick < kMonthDays * 24 * 60 / kTickMinutes; ++tick) {
      const LocalDateTime at = AddMilliseconds(first, tick * kTickMinutes * 60000LL);
      ManualClock clock(at);
      actions.now = FormatTimeOfDay(at);
      EvaluateSchedule(loaded.settings, clock, actions);
    }

    const std::vector<DayPlan> plans = PlanDays(loaded, first, kMonthDays);
    ASSERT_EQ(plans.size(), static_cast<std::size_t>(kMonthDays));
    for (const DayPlan& plan : plans) {
      SCOPED_TRACE(plan.date);
      const DayRecord& did = actions.days[plan.date];
      EXPECT_EQ(FirstTick(plan.due.fullFrom), did.full);
      EXPECT_EQ(FirstTick(plan.due.differentialFrom), did.differential);
      // A due pass no tick reached is the one the plan says may be missed.
      EXPECT_EQ(plan.fullDue.Due() && !did.full, plan.fullDue.kind == DueKind::kMayBeMissed);
      EXPECT_EQ(plan.differentialDue.Due() && !did.differential,
                plan.differentialDue.kind == DueKind::kMayBeMissed);
      EXPECT_EQ(plan.keyPartDatabases.empty() ? std::nullopt : FirstTick(plan.due.keyPartFrom),
                did.keyPart);
    }
  }
}

}  // namespace
}  // namespace mvx
