#include "companion/service_wait.h"

#include <algorithm>
#include <thread>

namespace mvx {
namespace {

using std::chrono::milliseconds;

constexpr milliseconds kStartLimit{30000};
// A sleep is cut into slices this long, so a stop request is seen in time.
constexpr milliseconds kStopSlice{100};

}  // namespace

milliseconds SteadyWaitClock::Elapsed() {
  return std::chrono::duration_cast<milliseconds>(
      std::chrono::steady_clock::now().time_since_epoch());
}

void SteadyWaitClock::Sleep(milliseconds duration) { std::this_thread::sleep_for(duration); }

milliseconds PollInterval(milliseconds waitHint) {
  return std::clamp(milliseconds((waitHint.count() + 5) / 10), milliseconds(1000),
                    milliseconds(10000));
}

int WaitUntilRunning(ServiceStatusReading last,
                     const std::function<std::optional<ServiceStatusReading>()>& poll,
                     WaitClock& clock, const std::atomic<bool>& stopRequested) {
  const milliseconds begin = clock.Elapsed();
  while (last.state != 0) {
    if (clock.Elapsed() - begin > kStartLimit) return 1;
    for (milliseconds left = PollInterval(last.waitHint); left.count() > 0; left -= kStopSlice) {
      if (stopRequested) return 1;
      clock.Sleep(std::min(left, kStopSlice));
    }
    const std::optional<ServiceStatusReading> reading = poll();
    // A query cut short by the stop is no failed query.
    if (!reading) return stopRequested ? 1 : -4;
    last = *reading;
  }
  return 0;
}

}  // namespace mvx
