#include "companion/systemd_state.h"

#include <optional>

#include "companion/service_control.h"

namespace mvx {
namespace {

// The value of the "KEY=value" line, wherever it stands.
std::optional<std::string_view> Property(std::string_view output, std::string_view key) {
  while (!output.empty()) {
    const std::size_t end = output.find('\n');
    std::string_view line = output.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.size() > key.size() && line.substr(0, key.size()) == key && line[key.size()] == '=') {
      return line.substr(key.size() + 1);
    }
    if (end == std::string_view::npos) break;
    output.remove_prefix(end + 1);
  }
  return std::nullopt;
}

}  // namespace

int ServiceStateFromSystemd(std::string_view showOutput) {
  const auto load = Property(showOutput, "LoadState");
  if (!load) return kServiceQueryFailed;
  if (*load == "not-found") return kServiceNotOpened;
  // Older systemd has no freezer; the state then comes from ActiveState alone.
  const auto freezer = Property(showOutput, "FreezerState");
  if (freezer == "frozen") return kServicePaused;
  if (freezer == "freezing") return kServicePausePending;
  if (freezer == "thawing") return kServiceContinuePending;
  const auto active = Property(showOutput, "ActiveState");
  if (!active) return kServiceQueryFailed;
  if (*active == "active") return kServiceRunning;
  if (*active == "inactive" || *active == "failed") return kServiceStopped;
  if (*active == "activating") return kServiceStartPending;
  if (*active == "deactivating") return kServiceStopPending;
  if (*active == "reloading") return kServiceContinuePending;
  return kServiceStateUnknown;
}

std::optional<long long> ActiveEnterFromSystemd(std::string_view showOutput) {
  const auto stamp = Property(showOutput, "ActiveEnterTimestamp");
  // At most 18 digits: they always fit.
  if (!stamp || stamp->size() < 2 || stamp->size() > 19 || stamp->front() != '@') {
    return std::nullopt;
  }
  long long seconds = 0;
  for (const char c : stamp->substr(1)) {
    if (c < '0' || c > '9') return std::nullopt;
    seconds = seconds * 10 + (c - '0');
  }
  if (seconds == 0) return std::nullopt;  // systemd's "never"
  return seconds;
}

}  // namespace mvx
