#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "common/clock.h"
#include "config/settings.h"

namespace mvx {

// What a schedule evaluation may ask for; the service module carries them out.
class ScheduleActions {
 public:
  virtual ~ScheduleActions() = default;
  virtual void WriteServiceLog(std::string_view database, std::string_view message) = 0;
  virtual void SendReport(std::string_view kind, std::string_view database,
                          std::string_view eventCode) = 0;
  virtual void ClearOldLogEntries(std::string_view today) = 0;
  virtual void RunFullBackups(std::string_view today) = 0;
  virtual void RunDifferentialBackups(std::string_view today) = 0;
  // The weekly key-part run of one database (mode "2"); its answer is not used. An exception
  // ends the weekly runs of this evaluation, and the evaluation tells KeyPartRunFailed.
  virtual void RunKeyPartMaintenance(std::string_view mode, std::string_view today,
                                     std::string_view database) = 0;
  virtual void KeyPartRunFailed(std::string_view database, std::string_view reason) = 0;
  // The cleanup of one evaluation: called for slots 1 to 6 in order, empty ones included.
  virtual void RemoveOldBackups(std::string_view today, std::string_view database) = 0;
  // A stop asks the evaluation to end at its next safe point.
  virtual bool StopRequested() const = 0;
};

// What the schedule asks for on one day and from what time ("hh:mm" as set, compared as text;
// empty means from midnight). nullopt: not asked for that day.
struct DaySchedule {
  std::optional<std::string> fullFrom;
  std::optional<std::string> differentialFrom;
  std::optional<std::string> keyPartFrom;  // the weekly run of each eligible slot
};

// The day's decisions from the settings alone; `day` needs only its date and weekday.
DaySchedule ScheduleForDay(const Settings& settings, const LocalDateTime& day);
// True once `nowTime` ("hh:mm") is not before the set time. A time that sorts after "23:59"
// (one-digit hours such as "9:00") is never reached.
bool DueAt(const std::optional<std::string>& from, std::string_view nowTime);
// True when a set time ("hh:mm") is reached on some tick of a day.
bool ReachedToday(const std::optional<std::string>& from);
// The interval between ticks the start makes of the TimerInt setting: values below 500 s
// become 1000 s.
int CorrectedTimerInt(int timerInt);
// False when the evaluation stops before any backup work: no backup folder or no slot.
bool ScheduleHasWork(const Settings& settings);

// Decides from the clock and the settings what is due this tick and asks for it.
void EvaluateSchedule(const Settings& settings, const Clock& clock, ScheduleActions& actions);

}  // namespace mvx
