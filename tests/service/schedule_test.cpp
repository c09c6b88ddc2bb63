#include "service/schedule.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

namespace mvx {
namespace {

// Records what the evaluation asks for, in order.
class RecordingActions final : public ScheduleActions {
 public:
  void WriteServiceLog(std::string_view db, std::string_view m) override {
    calls.push_back("log " + std::string(db) + "|" + std::string(m));
  }
  void SendReport(std::string_view kind, std::string_view db, std::string_view code) override {
    calls.push_back("report " + std::string(kind) + "|" + std::string(db) + "|" +
                    std::string(code));
  }
  void ClearOldLogEntries(std::string_view today) override {
    calls.push_back("clearlog " + std::string(today));
  }
  void RunFullBackups(std::string_view today) override {
    calls.push_back("full " + std::string(today));
  }
  void RunDifferentialBackups(std::string_view today) override {
    calls.push_back("inc " + std::string(today));
  }
  void RemoveOldBackups(std::string_view today, std::string_view db) override {
    calls.push_back("cleanup " + std::string(today) + "|" + std::string(db));
  }
  void RunKeyPartMaintenance(std::string_view mode, std::string_view today,
                             std::string_view db) override {
    calls.push_back("keypart " + std::string(mode) + "|" + std::string(today) + "|" +
                    std::string(db));
    if (db == raisingKeyPart) throw std::runtime_error("Invalid object name 'T0500'.");
  }
  void KeyPartRunFailed(std::string_view db, std::string_view reason) override {
    calls.push_back("keypart failed " + std::string(db) + "|" + std::string(reason));
  }
  bool StopRequested() const override { return stop; }

  std::vector<std::string> calls;
  bool stop = false;
  std::string raisingKeyPart;
};

Settings Defaults() {
  Settings s;
  s.databases = {"TremoLandix", "", "", "", "", ""};
  s.dbPath = "C:\\";
  s.bkPath = "D:\\Data_Backup";
  s.fullType = "2";
  s.fullDays = {"금", "", ""};
  s.fullTime = "17:00";
  s.incType = "2";
  s.incDays = {"월", "화", "수", "목", "토", "일"};
  s.incTime = "17:00";
  return s;
}

bool Has(const std::vector<std::string>& calls, const std::string& call) {
  return std::find(calls.begin(), calls.end(), call) != calls.end();
}

TEST(Schedule, DecidesBackupsFromSettingsAndClock) {
  struct Case {
    std::string name;
    std::function<void(Settings&)> change;
    LocalDateTime now;
    bool full;
    bool inc;
  };
  const auto fri = [](int h, int m) { return LocalDateTime::Make(2024, 3, 15, h, m); };
  const auto sat = [](int h, int m) { return LocalDateTime::Make(2024, 3, 16, h, m); };
  const Case cases[] = {
      {"friday before the time", nullptr, fri(16, 59), false, false},
      {"friday at the time", nullptr, fri(17, 0), true, false},
      {"saturday evening", nullptr, sat(23, 59), false, true},
      {"day of month with zero",
       [](Settings& s) {
         s.fullType = "1";
         s.fullDays = {"15"};
       },
       fri(17, 0), true, false},
      {"day of month without zero",
       [](Settings& s) {
         s.fullType = "1";
         s.fullDays = {"1"};
       },
       LocalDateTime::Make(2024, 3, 1, 18, 0), false, false},
      {"every day, empty time",
       [](Settings& s) {
         s.fullType = "3";
         s.fullTime = "";
       },
       sat(0, 0), true, false},
      {"one-digit hour never reached",
       [](Settings& s) {
         s.fullType = "3";
         s.fullTime = "9:00";
       },
       sat(23, 59), false, true},
      {"unknown rule",
       [](Settings& s) {
         s.fullType = "4";
         s.incType = "";
       },
       fri(18, 0), false, false},
      {"weekday in another language", [](Settings& s) { s.fullDays = {"Fri"}; }, fri(18, 0), false,
       false},
      {"both on one day", [](Settings& s) { s.incDays[0] = "금"; }, fri(17, 30), true, true},
  };
  for (const Case& c : cases) {
    Settings s = Defaults();
    if (c.change) c.change(s);
    ManualClock clock(c.now);
    RecordingActions actions;
    EvaluateSchedule(s, clock, actions);
    const std::string today = actions.calls.empty() ? "" : actions.calls.front().substr(9);
    EXPECT_EQ(Has(actions.calls, "full " + today), c.full) << c.name;
    EXPECT_EQ(Has(actions.calls, "inc " + today), c.inc) << c.name;
  }
}

TEST(Schedule, OrderOfOneEvaluation) {
  Settings s = Defaults();
  s.incDays[0] = "금";
  s.databases[2] = "Other";
  ManualClock clock(LocalDateTime::Make(2024, 3, 15, 17, 30));
  RecordingActions actions;
  EvaluateSchedule(s, clock, actions);
  EXPECT_EQ(actions.calls,
            (std::vector<std::string>{"clearlog 2024-03-15", "full 2024-03-15", "inc 2024-03-15",
                                      "cleanup 2024-03-15|TremoLandix", "cleanup 2024-03-15|",
                                      "cleanup 2024-03-15|Other", "cleanup 2024-03-15|",
                                      "cleanup 2024-03-15|", "cleanup 2024-03-15|"}));
}

TEST(Schedule, EmptyPathsAndSlots) {
  ManualClock clock(LocalDateTime::Make(2024, 3, 15, 17, 30));
  {
    Settings s = Defaults();
    s.dbPath = "";
    RecordingActions actions;
    EvaluateSchedule(s, clock, actions);
    ASSERT_GE(actions.calls.size(), 3u);
    EXPECT_EQ(actions.calls[0], "log |DB Path 지정안되어 있슴");
    EXPECT_EQ(actions.calls[1], "report 2||008");
    EXPECT_TRUE(Has(actions.calls, "full 2024-03-15"));  // backups still run
  }
  {
    Settings s = Defaults();
    s.bkPath = "";
    RecordingActions actions;
    EvaluateSchedule(s, clock, actions);
    EXPECT_TRUE(actions.calls.empty());
  }
  {
    Settings s = Defaults();
    s.databases = {};
    s.dbPath = "";
    RecordingActions actions;
    EvaluateSchedule(s, clock, actions);
    EXPECT_EQ(actions.calls.size(), 2u);  // only the DBPath warning
  }
}

// Friday 23:59:59.999, then Saturday 00:00:00.000: each row's rule is met by
// only one of the two readings.
TEST(Schedule, MidnightUsesTheDateOfTheFirstReadingAndTheTimeOfTheSecond) {
  struct Case {
    std::string type;
    std::string day;
    std::string time;
    bool full;
  };
  const Case cases[] = {
      {"2", "금", "00:00", true},   // the first reading's weekday
      {"2", "토", "00:00", false},  // not the second's
      {"1", "15", "00:00", true},   // the first reading's day of the month
      {"1", "16", "00:00", false}, {"3", "", "23:59", false},  // the second reading's time
      {"3", "", "00:00", true},
  };
  for (const Case& c : cases) {
    Settings s = Defaults();
    s.fullType = c.type;
    s.fullDays = {c.day, "", ""};
    s.fullTime = c.time;
    SCOPED_TRACE(c.type + " " + c.day + " " + c.time);
    ManualClock clock(LocalDateTime::Make(2024, 3, 15, 23, 59, 59, 999));
    clock.SetStepMilliseconds(1);
    RecordingActions actions;
    EvaluateSchedule(s, clock, actions);
    ASSERT_FALSE(actions.calls.empty());
    EXPECT_EQ(actions.calls[0], "clearlog 2024-03-15");
    EXPECT_EQ(Has(actions.calls, "full 2024-03-15"), c.full);
  }
}

TEST(Schedule, StopEndsTheEvaluationAtTheNextSafePoint) {
  Settings s = Defaults();
  ManualClock clock(LocalDateTime::Make(2024, 3, 15, 17, 30));
  RecordingActions actions;
  actions.stop = true;
  EvaluateSchedule(s, clock, actions);
  EXPECT_EQ(actions.calls, (std::vector<std::string>{"clearlog 2024-03-15"}));
}

TEST(Schedule, WeeklyKeyPartRunsBetweenTheBackupsAndTheCleanup) {
  struct Case {
    std::string name;
    LocalDateTime now;
    std::string raising;
    std::vector<std::string> calls;  // from the differential backup to the first cleanup
  };
  const auto tue = [](int h, int m) { return LocalDateTime::Make(2024, 3, 19, h, m); };
  const std::string inc = "inc 2024-03-19", cleanup = "cleanup 2024-03-19|QuendrilaxoMain";
  const Case cases[] = {
      {"before KeyTime", tue(0, 59), "", {inc, cleanup}},
      {"from KeyTime, eligible slots in order",
       tue(1, 0),
       "",
       {inc, "keypart 2|2024-03-19|QuendrilaxoMain", "keypart 2|2024-03-19|ZoltmarkenShop",
        cleanup}},
      {"another weekday",
       LocalDateTime::Make(2024, 3, 20, 12, 0),
       "",
       {"inc 2024-03-20", "cleanup 2024-03-20|QuendrilaxoMain"}},
      {"a raising run ends only its own slot's run",
       tue(23, 0),
       "QuendrilaxoMain",
       {inc, "keypart 2|2024-03-19|QuendrilaxoMain",
        "keypart failed QuendrilaxoMain|Invalid object name 'T0500'.",
        "keypart 2|2024-03-19|ZoltmarkenShop", cleanup}},
  };
  for (const Case& c : cases) {
    Settings s = Defaults();
    s.databases = {"QuendrilaxoMain", "TremoLandix", "ZoltmarkenShop", "", "", ""};
    s.keyPartEligible = {true, false, true, false, false, false};
    s.keyWeek = "화";
    s.keyTime = "01:00";
    s.incTime = "";  // the differential backup marks where the weekly runs begin
    ManualClock clock(c.now);
    RecordingActions actions;
    actions.raisingKeyPart = c.raising;
    EvaluateSchedule(s, clock, actions);
    const auto from =
        std::find_if(actions.calls.begin(), actions.calls.end(),
                     [](const std::string& call) { return call.rfind("inc", 0) == 0; });
    const auto to = std::find_if(from, actions.calls.end(), [](const std::string& call) {
      return call.rfind("cleanup", 0) == 0;
    });
    std::vector<std::string> window(from, to == actions.calls.end() ? to : to + 1);
    EXPECT_EQ(window, c.calls) << c.name;
    EXPECT_EQ(std::count_if(actions.calls.begin(), actions.calls.end(),
                            [](const std::string& call) { return call.rfind("cleanup", 0) == 0; }),
              6)
        << c.name;
  }
}

}  // namespace
}  // namespace mvx
