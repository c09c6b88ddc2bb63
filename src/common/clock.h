#pragma once

#include <mutex>

namespace mvx {

// Local calendar time with milliseconds; weekday 0 is Sunday.
struct LocalDateTime {
  int year = 2000;
  int month = 1;
  int day = 1;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
  int weekday = 6;

  // Fills in the weekday from the date.
  static LocalDateTime Make(int year, int month, int day, int hour = 0, int minute = 0,
                            int second = 0, int millisecond = 0);
  friend bool operator==(const LocalDateTime&, const LocalDateTime&) = default;
};

// Everything that reads the time reads it through a Clock, so tests can run
// days of schedule in milliseconds.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual LocalDateTime Now() const = 0;
};

class SystemClock final : public Clock {
 public:
  LocalDateTime Now() const override;
};

// A clock that tests set by hand; every reading may advance it by a step.
class ManualClock final : public Clock {
 public:
  explicit ManualClock(LocalDateTime start) : now_(start) {}
  LocalDateTime Now() const override;
  void Set(LocalDateTime t);
  // Each later Now() returns the current time, then advances it by this many milliseconds.
  void SetStepMilliseconds(long long step);

 private:
  mutable std::mutex mutex_;
  mutable LocalDateTime now_;
  long long step_ = 0;
};

// Days from 1970-01-01 to the date of `t` (proleptic Gregorian).
long long DayNumber(const LocalDateTime& t);

// The local time of a moment given in seconds since 1970 (UTC).
LocalDateTime LocalTimeOfUnixSeconds(long long seconds);

// Adds milliseconds to a local time with calendar carry (no time-zone rules).
LocalDateTime AddMilliseconds(const LocalDateTime& t, long long ms);

}  // namespace mvx
