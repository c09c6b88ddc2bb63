#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace mvx {

// The system's event log: only the service framework's failures go there.
class EventLog {
 public:
  virtual ~EventLog() = default;
  virtual void Error(std::string_view source, std::string_view message) = 0;
};

// The Windows event log, or syslog (facility daemon) and standard error on POSIX.
class SystemEventLog final : public EventLog {
 public:
  SystemEventLog() = default;
  void Error(std::string_view source, std::string_view message) override;
  // Called with every entry as well (console echo).
  void SetEcho(std::function<void(std::string_view)> echo) { echo_ = std::move(echo); }

 private:
  std::function<void(std::string_view)> echo_;
};

// Event source of the service's own start and run failures.
inline constexpr std::string_view kServiceName = "fMvxBackupMain";
inline constexpr std::string_view kDisplayName = "Morvex Razu Rarevi";

}  // namespace mvx
