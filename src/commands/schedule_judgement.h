#pragma once

#include <optional>
#include <string>
#include <vector>

#include "common/clock.h"
#include "config/settings.h"

namespace mvx {

// What is wrong with a schedule as the ticks will read it.
struct ScheduleFindings {
  std::vector<std::string> neverDue;  // why no full backup can ever be due
  std::vector<std::string> warnings;  // parts that never match, times that may be missed
};

ScheduleFindings JudgeSchedule(const Settings& settings);

// True when a set time ("hh:mm") is later than 24:00 minus the interval between ticks: the
// last tick of the day may come before it and the next one on the next day.
bool MayBeMissed(const std::optional<std::string>& from, int timerInt);

// The days whose full (or differential) backup was due and whose due moment lies more than one
// tick interval and an hour before `now`, newest first, at most `count`.
std::vector<LocalDateTime> PassedDueDays(const Settings& settings, bool full,
                                         const LocalDateTime& now, std::size_t count);

}  // namespace mvx
