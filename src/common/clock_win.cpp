#include <windows.h>

#include "common/clock.h"

namespace mvx {

LocalDateTime SystemClock::Now() const {
  SYSTEMTIME st{};
  GetLocalTime(&st);
  return LocalDateTime::Make(st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond,
                             st.wMilliseconds);
}

}  // namespace mvx
