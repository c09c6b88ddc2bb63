#include "commands/schedule_words.h"

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <vector>

#include "backup/backup_engine.h"
#include "common/text_util.h"
#include "service/schedule.h"

namespace mvx {
namespace {

const std::map<std::string, std::string, std::less<>> kWeekdayWords = {
    {"일", "Sundays"},   {"월", "Mondays"}, {"화", "Tuesdays"}, {"수", "Wednesdays"},
    {"목", "Thursdays"}, {"금", "Fridays"}, {"토", "Saturdays"}};

std::string RuleInWords(std::string_view kind, const std::string& type,
                        const std::vector<std::string>& days, const std::string& time,
                        std::string_view otherDaysOf) {
  std::string words(kind);
  if (type == "1") {
    words += " on days " + JoinedByCommas(days) + " of the month";
  } else if (type == "2") {
    std::vector<std::string> named;
    for (const std::string& day : days) {
      const auto found = kWeekdayWords.find(day);
      named.push_back(found != kWeekdayWords.end() ? found->second : "\"" + day + "\"");
    }
    words += otherDaysOf.empty() ? " on " + JoinedByCommas(named) : std::string(otherDaysOf);
  } else if (type == "3") {
    words += " every day";
  } else {
    return "no " + std::string(kind) + " backups";
  }
  words += " from " + (time.empty() ? std::string("00:00") : time);
  if (!ReachedToday(time)) words += " (never reached: hours need two digits)";
  return words;
}

std::vector<std::string> Listed(std::span<const std::string> days) {
  std::vector<std::string> listed;
  for (const std::string& day : days) {
    if (!day.empty()) listed.push_back(day);
  }
  return listed;
}

}  // namespace

std::string ScheduleInWords(const Settings& s) {
  const std::vector<std::string> fullDays = Listed(s.fullDays), incDays = Listed(s.incDays);
  // Differential days that are exactly the weekdays without a full backup.
  std::set<std::string> week;
  for (const auto& [korean, words] : kWeekdayWords) week.insert(korean);
  std::set<std::string> rest = week;
  for (const std::string& day : fullDays) rest.erase(day);
  const bool otherDays = s.fullType == "2" && s.incType == "2" && rest.size() < week.size() &&
                         std::set<std::string>(incDays.begin(), incDays.end()) == rest;
  std::string words = RuleInWords("full", s.fullType, fullDays, s.fullTime, "");
  words += ", " + RuleInWords("differential", s.incType, incDays, s.incTime,
                              otherDays ? " on the other days" : "");
  words += ", every " + std::to_string(CorrectedTimerInt(s.timerInt)) + " s";
  const std::optional<int> kept = RetentionDays(s.save);
  words += kept ? ", " + std::to_string(*kept) + " days kept" : ", no cleanup";
  return words;
}

}  // namespace mvx
