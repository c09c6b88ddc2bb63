#include "common/clock.h"

namespace mvx {
namespace {

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
long long DaysFromCivil(int y, int m, int d) {
  y -= m <= 2 ? 1 : 0;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const long long yoe = y - era * 400;
  const long long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(long long z, int& y, int& m, int& d) {
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const long long doe = z - era * 146097;
  const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const long long mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yoe + era * 400 + (m <= 2 ? 1 : 0));
}

int WeekdayFromDays(long long days) {
  // 1970-01-01 was a Thursday (4).
  long long w = (days + 4) % 7;
  return static_cast<int>(w < 0 ? w + 7 : w);
}

}  // namespace

LocalDateTime LocalDateTime::Make(int year, int month, int day, int hour, int minute, int second,
                                  int millisecond) {
  LocalDateTime t;
  t.year = year;
  t.month = month;
  t.day = day;
  t.hour = hour;
  t.minute = minute;
  t.second = second;
  t.millisecond = millisecond;
  t.weekday = WeekdayFromDays(DaysFromCivil(year, month, day));
  return t;
}

long long DayNumber(const LocalDateTime& t) { return DaysFromCivil(t.year, t.month, t.day); }

LocalDateTime AddMilliseconds(const LocalDateTime& t, long long ms) {
  const long long dayMs = 86400000LL;
  long long total = DaysFromCivil(t.year, t.month, t.day) * dayMs +
                    ((t.hour * 60LL + t.minute) * 60 + t.second) * 1000 + t.millisecond + ms;
  long long days = total >= 0 ? total / dayMs : (total - dayMs + 1) / dayMs;
  long long rest = total - days * dayMs;
  int y = 0, m = 0, d = 0;
  CivilFromDays(days, y, m, d);
  return LocalDateTime::Make(y, m, d, static_cast<int>(rest / 3600000),
                             static_cast<int>(rest / 60000 % 60),
                             static_cast<int>(rest / 1000 % 60), static_cast<int>(rest % 1000));
}

LocalDateTime ManualClock::Now() const {
  std::lock_guard lock(mutex_);
  LocalDateTime result = now_;
  if (step_ != 0) now_ = AddMilliseconds(now_, step_);
  return result;
}

void ManualClock::Set(LocalDateTime t) {
  std::lock_guard lock(mutex_);
  now_ = t;
}

void ManualClock::SetStepMilliseconds(long long step) {
  std::lock_guard lock(mutex_);
  step_ = step;
}

}  // namespace mvx
