#include <sys/time.h>

#include <ctime>

#include "common/clock.h"

namespace mvx {

LocalDateTime SystemClock::Now() const {
  timeval tv{};
  gettimeofday(&tv, nullptr);
  tm local{};
  const time_t seconds = tv.tv_sec;
  localtime_r(&seconds, &local);
  return LocalDateTime::Make(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                             local.tm_min, local.tm_sec, static_cast<int>(tv.tv_usec / 1000));
}

LocalDateTime LocalTimeOfUnixSeconds(long long seconds) {
  tm local{};
  const time_t at = static_cast<time_t>(seconds);
  if (localtime_r(&at, &local) == nullptr) return LocalDateTime::Make(1970, 1, 1);
  return LocalDateTime::Make(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                             local.tm_min, local.tm_sec);
}

}  // namespace mvx
