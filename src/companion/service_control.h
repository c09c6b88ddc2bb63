#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "common/text_log.h"
#include "companion/service_wait.h"

namespace mvx {

// State codes of QueryServiceState (StartServiceAndWait maps the same way).
inline constexpr int kServiceRunning = 0;
inline constexpr int kServiceStopped = 1;
inline constexpr int kServicePaused = 2;
inline constexpr int kServiceStartPending = 3;
inline constexpr int kServiceStopPending = 4;
inline constexpr int kServiceContinuePending = 5;
inline constexpr int kServicePausePending = 6;
// Failure codes of QueryServiceState and StartServiceAndWait.
inline constexpr int kServiceNotOpened = -1;     // missing, or access refused
inline constexpr int kManagerNotOpened = -2;     // the service manager cannot be reached
inline constexpr int kServiceStateUnknown = -3;  // a state outside the ones above
inline constexpr int kServiceQueryFailed = -4;

// Results of InstallService.
inline constexpr int kInstallCreated = 0;
inline constexpr int kInstallEmptyArgument = 1;
inline constexpr int kInstallNoManager = 2;
inline constexpr int kInstallRefused = 3;

// Results of StartServiceAndWait besides the failure codes.
inline constexpr int kStartRunning = 0;
inline constexpr int kStartFailed = 1;  // request refused, or not running in time
inline constexpr int kStartPending = 2;

// Control of a named service through the system's service manager. The
// routines know nothing of what they control and raise no error of their own;
// only InstallService passes on a text log that refuses its line.
class ServiceControl {
 public:
  virtual ~ServiceControl() = default;
  virtual int QueryServiceState(std::string_view name) = 0;
  // Registers an automatically started service run by the system account.
  virtual int InstallService(std::string_view name, std::string_view displayName,
                             std::string_view imagePath) = 0;
  // Starts a stopped or resumes a paused service and waits until it runs.
  virtual int StartServiceAndWait(std::string_view name) = 0;
  // When the named service last entered its running state, in seconds since 1970 (UTC);
  // nullopt when the manager does not say. Asked of a service found running.
  virtual std::optional<long long> ServiceStartedAt(std::string_view) { return std::nullopt; }
};

// Where the Linux backend finds systemd. Windows ignores it.
struct SystemdPaths {
  std::string systemctl = "systemctl";  // looked up on PATH unless it holds a '/'
  std::string unitDir = "/etc/systemd/system";
};
// MVX_SYSTEMCTL and MVX_SYSTEMD_UNIT_DIR when set, else the defaults above.
SystemdPaths SystemdPathsFromEnvironment();

// The Service Control Manager on Windows, systemd elsewhere. InstallService
// writes its result ("0" or "3") to the text log and throws when that write is
// refused. A start's wait ends within a second of a stop request. On systemd
// an install is all or nothing: when the reload or the enable fails, times out
// or is cut by a stop, the unit file goes again and systemd forgets it (3; no
// log line when a stop cut it).
class SystemServiceControl final : public ServiceControl {
 public:
  SystemServiceControl(TextLog& log, const std::atomic<bool>& stopRequested,
                       SystemdPaths paths = SystemdPathsFromEnvironment(),
                       WaitClock* clock = nullptr);
  SystemServiceControl(const SystemServiceControl&) = delete;
  SystemServiceControl& operator=(const SystemServiceControl&) = delete;

  int QueryServiceState(std::string_view name) override;
  int InstallService(std::string_view name, std::string_view displayName,
                     std::string_view imagePath) override;
  int StartServiceAndWait(std::string_view name) override;
  // systemd's ActiveEnterTimestamp of the unit; on Windows the creation time of the service's
  // process.
  std::optional<long long> ServiceStartedAt(std::string_view name) override;

 private:
  void LogInstallResult(int result);

  TextLog& log_;
  const std::atomic<bool>& stopRequested_;
  SystemdPaths paths_;
  SteadyWaitClock steadyClock_;
  WaitClock& clock_;
};

}  // namespace mvx
