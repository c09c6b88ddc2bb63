#include "commands/schedule_judgement.h"

#include <algorithm>
#include <set>
#include <span>

#include "common/text_util.h"
#include "service/schedule.h"

namespace mvx {
namespace {

constexpr long long kDayMs = 86400000LL;
constexpr int kSearchDays = 800;  // two years and more: every rule repeats within it
constexpr int kGraceSeconds = 3600;

const std::set<std::string, std::less<>> kWeekdays = {"일", "월", "화", "수", "목", "금", "토"};

bool KnownType(std::string_view type) { return type == "1" || type == "2" || type == "3"; }

bool DayOfMonthText(std::string_view day) {
  int number = 0;
  return day.size() == 2 && day[0] >= '0' && day[0] <= '3' && ParseInt(day, number) &&
         number >= 1 && number <= 31;
}

// Seconds after midnight of a set time; "" is midnight.
int SecondsOfDay(const std::string& time) {
  if (time.size() < 5) return 0;
  return ((time[0] - '0') * 10 + (time[1] - '0')) * 3600 +
         ((time[3] - '0') * 10 + (time[4] - '0')) * 60;
}

long long SecondNumber(const LocalDateTime& t) {
  return DayNumber(t) * 86400 + t.hour * 3600 + t.minute * 60 + t.second;
}

// The causes of one rule that never matches; `fatal` lists what keeps it from ever being
// due, `partial` the listed days that never match while others do.
void JudgeRule(std::string_view key, const std::string& type, std::span<const std::string> days,
               std::string_view timeKey, const std::string& time, std::vector<std::string>& fatal,
               std::vector<std::string>& partial) {
  if (!KnownType(type)) {
    fatal.push_back(std::string(key) + "Type \"" + type +
                    "\" is unknown (1 days of the month, 2 weekdays, 3 every day)");
    return;
  }
  if (type != "3") {
    std::vector<std::string> good, bad;
    for (const std::string& day : days) {
      if (day.empty()) continue;
      const bool matches = type == "1" ? DayOfMonthText(day) : kWeekdays.count(day) != 0;
      (matches ? good : bad).push_back(day);
    }
    const std::string rule =
        type == "1" ? "days of the month need two digits (01 to 31)" : "days are weekdays 일 to 토";
    if (good.empty() && bad.empty()) {
      fatal.push_back("no " + std::string(key) + "Day is set");
    } else if (good.empty()) {
      fatal.push_back(std::string(key) + "Day " + JoinedByCommas(bad) + " never matches: " + rule);
    } else if (!bad.empty()) {
      partial.push_back(std::string(key) + "Day " + JoinedByCommas(bad) +
                        " never matches: " + rule);
    }
  }
  if (!ReachedToday(time)) {
    fatal.push_back(std::string(timeKey) + " " + time + " is never reached: hours need two digits");
  }
}

}  // namespace

bool MayBeMissed(const std::optional<std::string>& from, int timerInt) {
  return ReachedToday(from) && SecondsOfDay(*from) > 86400 - CorrectedTimerInt(timerInt);
}

ScheduleFindings JudgeSchedule(const Settings& s) {
  ScheduleFindings findings;
  JudgeRule("Full", s.fullType, s.fullDays, "FullTime", s.fullTime, findings.neverDue,
            findings.warnings);
  if (KnownType(s.incType)) {
    std::vector<std::string> neverDue;
    JudgeRule("Inc", s.incType, s.incDays, "IncBTime", s.incTime, neverDue, findings.warnings);
    for (const std::string& cause : neverDue) {
      findings.warnings.push_back("no differential backup is ever due: " + cause);
    }
  }
  const int timerInt = CorrectedTimerInt(s.timerInt);
  const std::string apart = " may be missed: ticks are " + std::to_string(timerInt) + " s apart";
  if (findings.neverDue.empty() && MayBeMissed(s.fullTime, timerInt)) {
    findings.warnings.push_back("FullTime " + s.fullTime + apart);
  }
  if (KnownType(s.incType) && MayBeMissed(s.incTime, timerInt)) {
    findings.warnings.push_back("IncBTime " + s.incTime + apart);
  }
  const bool keyParts =
      std::any_of(s.keyPartEligible.begin(), s.keyPartEligible.end(), [](bool b) { return b; });
  if (keyParts && MayBeMissed(s.keyTime, timerInt)) {
    findings.warnings.push_back("KeyTime " + s.keyTime + apart);
  }
  return findings;
}

std::vector<LocalDateTime> PassedDueDays(const Settings& settings, bool full,
                                         const LocalDateTime& now, std::size_t count) {
  std::vector<LocalDateTime> days;
  const LocalDateTime today = LocalDateTime::Make(now.year, now.month, now.day);
  const long long latest = SecondNumber(now) - CorrectedTimerInt(settings.timerInt) - kGraceSeconds;
  for (int i = 0; i <= kSearchDays && days.size() < count; ++i) {
    const LocalDateTime day = AddMilliseconds(today, -i * kDayMs);
    const DaySchedule due = ScheduleForDay(settings, day);
    const std::optional<std::string>& from = full ? due.fullFrom : due.differentialFrom;
    if (!ReachedToday(from)) continue;
    if (SecondNumber(day) + SecondsOfDay(*from) < latest) days.push_back(day);
  }
  return days;
}

}  // namespace mvx
