#include "service/log_backup_clock.h"

#include <algorithm>

namespace mvx {

LogBackupClock::Duration LogBackupClock::Started(TimePoint now, Duration firstTick,
                                                 Duration logInterval) {
  logInterval_ = std::max(logInterval, Duration::zero());
  tickDue_ = now + firstTick;
  logDue_ = now + logInterval_;
  return On() ? Wait(now) : firstTick;
}

LogBackupClock::Duration LogBackupClock::TickEnded(TimePoint now, Duration tickInterval) {
  tickDue_ = now + tickInterval;
  return On() ? Wait(now) : tickInterval;
}

LogBackupClock::Duration LogBackupClock::LogEnded(TimePoint now) {
  logDue_ = now + logInterval_;
  return Wait(now);
}

LogBackupClock::Duration LogBackupClock::Wait(TimePoint now) const {
  const TimePoint next = std::min(tickDue_, logDue_);
  return std::max(Duration::zero(), std::chrono::ceil<Duration>(next - now));
}

}  // namespace mvx
