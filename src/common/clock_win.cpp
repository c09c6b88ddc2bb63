#include <windows.h>

#include "common/clock.h"

namespace mvx {

LocalDateTime SystemClock::Now() const {
  SYSTEMTIME st{};
  GetLocalTime(&st);
  return LocalDateTime::Make(st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond,
                             st.wMilliseconds);
}

LocalDateTime LocalTimeOfUnixSeconds(long long seconds) {
  constexpr long long kLastSecond = 253402300799LL;  // 9999-12-31 23:59:59
  if (seconds < 0 || seconds > kLastSecond) return LocalDateTime::Make(1970, 1, 1);
  // FILETIME counts 100 ns steps from 1601-01-01 (UTC).
  const unsigned long long ticks =
      (static_cast<unsigned long long>(seconds) + 11644473600ULL) * 10000000ULL;
  FILETIME utc{static_cast<DWORD>(ticks & 0xFFFFFFFFULL), static_cast<DWORD>(ticks >> 32)};
  SYSTEMTIME universal{}, local{};
  if (!FileTimeToSystemTime(&utc, &universal) ||
      !SystemTimeToTzSpecificLocalTime(nullptr, &universal, &local)) {
    return LocalDateTime::Make(1970, 1, 1);
  }
  return LocalDateTime::Make(local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute,
                             local.wSecond);
}

}  // namespace mvx
