#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <optional>

namespace mvx {

// Elapsed time and sleeping for the start's wait; tests step it by hand.
class WaitClock {
 public:
  virtual ~WaitClock() = default;
  // Milliseconds since any fixed origin; never goes back.
  virtual std::chrono::milliseconds Elapsed() = 0;
  virtual void Sleep(std::chrono::milliseconds duration) = 0;
};

class SteadyWaitClock final : public WaitClock {
 public:
  std::chrono::milliseconds Elapsed() override;
  void Sleep(std::chrono::milliseconds duration) override;
};

// One reading of a service's status: its state code and the manager's hint of
// how long the pending operation takes (zero when there is none).
struct ServiceStatusReading {
  int state = 0;
  std::chrono::milliseconds waitHint{0};
};

// The pause between two polls: a tenth of the wait hint, 1000 to 10000 ms.
std::chrono::milliseconds PollInterval(std::chrono::milliseconds waitHint);

// After an accepted start or continue request: polls until the service runs
// (0), more than 30000 ms have passed (1), a poll fails (-4, `poll` answers
// nothing) or a stop is requested (1, within a second).
int WaitUntilRunning(ServiceStatusReading last,
                     const std::function<std::optional<ServiceStatusReading>()>& poll,
                     WaitClock& clock, const std::atomic<bool>& stopRequested);

}  // namespace mvx
