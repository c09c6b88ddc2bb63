#pragma once

#include <chrono>

namespace mvx {

// When Timer1 fires for the tick and when for the log backups. Both share the timer's one
// thread, so a log backup never runs beside the tick's work: whichever comes due while the
// other runs waits for it. The tick's interval counts from the end of a tick, the log
// backups' from the end of the previous log backups. Off (no interval), the timer serves the
// tick alone, exactly as without this clock.
class LogBackupClock {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;
  using Duration = std::chrono::milliseconds;

  // At the start: the first tick after `firstTick`, the first log backups one `logInterval`
  // after `now` (zero: none). Returns the wait to arm the timer with.
  Duration Started(TimePoint now, Duration firstTick, Duration logInterval);
  bool On() const { return logInterval_ > Duration::zero(); }

  // Whether the work is due at `now` (always the tick while off).
  bool TickDue(TimePoint now) const { return !On() || now >= tickDue_; }
  bool LogDue(TimePoint now) const { return On() && now >= logDue_; }

  // The work ended at `now`; the wait to arm the timer with, up to the nearer of the two.
  Duration TickEnded(TimePoint now, Duration tickInterval);
  Duration LogEnded(TimePoint now);

 private:
  Duration Wait(TimePoint now) const;

  Duration logInterval_{0};
  TimePoint tickDue_{};
  TimePoint logDue_{};
};

}  // namespace mvx
