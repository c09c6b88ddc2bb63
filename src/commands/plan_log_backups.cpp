#include "commands/plan_log_backups.h"

namespace mvx {
namespace {

constexpr int kMinutesPerDay = 1440;

// Each interval counts from the end of the round before, so a day holds at most this many.
int PerDay(const Settings& settings) { return kMinutesPerDay / settings.logBackupMinutes; }

}  // namespace

std::string LogBackupPlanText(const Settings& settings) {
  if (settings.logBackupMinutes <= 0) return {};
  return "every " + std::to_string(settings.logBackupMinutes) + " min (" +
         std::to_string(PerDay(settings)) + " a day) for each slot database in full recovery";
}

std::string LogBackupPlanJson(const Settings& settings) {
  if (settings.logBackupMinutes <= 0) return {};
  return "{\"everyMinutes\":" + std::to_string(settings.logBackupMinutes) +
         ",\"perDay\":" + std::to_string(PerDay(settings)) + "}";
}

}  // namespace mvx
