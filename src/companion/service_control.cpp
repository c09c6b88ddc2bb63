#include "companion/service_control.h"

#include <cstdlib>

namespace mvx {

SystemdPaths SystemdPathsFromEnvironment() {
  SystemdPaths paths;
  // Operators and tests may point the agent at another systemctl and unit folder.
  if (const char* systemctl = std::getenv("MVX_SYSTEMCTL"); systemctl && *systemctl) {
    paths.systemctl = systemctl;
  }
  if (const char* dir = std::getenv("MVX_SYSTEMD_UNIT_DIR"); dir && *dir) paths.unitDir = dir;
  return paths;
}

SystemServiceControl::SystemServiceControl(TextLog& log, const std::atomic<bool>& stopRequested,
                                           SystemdPaths paths, WaitClock* clock)
    : log_(log),
      stopRequested_(stopRequested),
      paths_(std::move(paths)),
      clock_(clock != nullptr ? *clock : steadyClock_) {}

void SystemServiceControl::LogInstallResult(int result) {
  // A refused write reaches the caller: the companion's set-up absorbs it for this tick.
  log_.WriteFileLog(std::to_string(result));
}

}  // namespace mvx
