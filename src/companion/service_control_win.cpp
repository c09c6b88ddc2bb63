#include <windows.h>

#include <memory>
#include <optional>
#include <type_traits>

#include "common/win_text.h"
#include "companion/service_control.h"

namespace mvx {
namespace {

using std::chrono::milliseconds;

struct ScHandleCloser {
  void operator()(SC_HANDLE h) const {
    if (h != nullptr) CloseServiceHandle(h);
  }
};
using ScHandle = std::unique_ptr<std::remove_pointer_t<SC_HANDLE>, ScHandleCloser>;

constexpr DWORD kStartAccess =
    SERVICE_QUERY_STATUS | SERVICE_START | SERVICE_STOP | SERVICE_PAUSE_CONTINUE;

int StateCode(DWORD state) {
  switch (state) {
    case SERVICE_RUNNING:
      return kServiceRunning;
    case SERVICE_STOPPED:
      return kServiceStopped;
    case SERVICE_PAUSED:
      return kServicePaused;
    case SERVICE_START_PENDING:
      return kServiceStartPending;
    case SERVICE_STOP_PENDING:
      return kServiceStopPending;
    case SERVICE_CONTINUE_PENDING:
      return kServiceContinuePending;
    case SERVICE_PAUSE_PENDING:
      return kServicePausePending;
    default:
      return kServiceStateUnknown;
  }
}

ServiceStatusReading Reading(const SERVICE_STATUS& status) {
  return {StateCode(status.dwCurrentState), milliseconds(status.dwWaitHint)};
}

// The image path as one quoted word, so a folder with blanks cannot be read as another program.
std::wstring QuotedImagePath(std::string_view imagePath) {
  if (imagePath.size() >= 2 && imagePath.front() == '"' && imagePath.back() == '"') {
    return WideFromUtf8(imagePath);
  }
  return WideFromUtf8("\"" + std::string(imagePath) + "\"");
}

}  // namespace

int SystemServiceControl::QueryServiceState(std::string_view name) {
  ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) return kManagerNotOpened;
  const std::wstring wideName = WideFromUtf8(name);
  ScHandle service(OpenServiceW(manager.get(), wideName.c_str(), SERVICE_QUERY_STATUS));
  if (!service) return kServiceNotOpened;
  SERVICE_STATUS status{};
  if (!QueryServiceStatus(service.get(), &status)) return kServiceQueryFailed;
  return StateCode(status.dwCurrentState);
}

std::optional<long long> SystemServiceControl::ServiceStartedAt(std::string_view name) {
  ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) return std::nullopt;
  const std::wstring wideName = WideFromUtf8(name);
  ScHandle service(OpenServiceW(manager.get(), wideName.c_str(), SERVICE_QUERY_STATUS));
  if (!service) return std::nullopt;
  SERVICE_STATUS_PROCESS status{};
  DWORD needed = 0;
  if (!QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                            sizeof status, &needed) ||
      status.dwCurrentState != SERVICE_RUNNING || status.dwProcessId == 0) {
    return std::nullopt;
  }
  const std::unique_ptr<void, decltype(&CloseHandle)> process(
      OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, status.dwProcessId), &CloseHandle);
  FILETIME created{}, exited{}, kernel{}, user{};
  if (!process || !GetProcessTimes(process.get(), &created, &exited, &kernel, &user)) {
    return std::nullopt;
  }
  // FILETIME counts 100 ns steps from 1601-01-01 (UTC).
  const unsigned long long ticks =
      (static_cast<unsigned long long>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
  constexpr unsigned long long kTicksPerSecond = 10000000ULL;
  constexpr unsigned long long kSecondsFrom1601To1970 = 11644473600ULL;
  if (ticks / kTicksPerSecond <= kSecondsFrom1601To1970) return std::nullopt;
  return static_cast<long long>(ticks / kTicksPerSecond - kSecondsFrom1601To1970);
}

int SystemServiceControl::InstallService(std::string_view name, std::string_view displayName,
                                         std::string_view imagePath) {
  if (name.empty() || displayName.empty() || imagePath.empty()) return kInstallEmptyArgument;
  ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager) return kInstallNoManager;
  const std::wstring wideName = WideFromUtf8(name);
  const std::wstring wideDisplay = WideFromUtf8(displayName);
  const std::wstring widePath = QuotedImagePath(imagePath);
  ScHandle service(CreateServiceW(manager.get(), wideName.c_str(), wideDisplay.c_str(),
                                  SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
                                  SERVICE_ERROR_NORMAL, widePath.c_str(), nullptr, nullptr, nullptr,
                                  nullptr, nullptr));
  const int result = service ? kInstallCreated : kInstallRefused;
  LogInstallResult(result);
  return result;
}

int SystemServiceControl::StartServiceAndWait(std::string_view name) {
  ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) return kManagerNotOpened;
  const std::wstring wideName = WideFromUtf8(name);
  ScHandle service(OpenServiceW(manager.get(), wideName.c_str(), kStartAccess));
  if (!service) return kServiceNotOpened;
  SERVICE_STATUS status{};
  if (!QueryServiceStatus(service.get(), &status)) return kServiceQueryFailed;
  const int state = StateCode(status.dwCurrentState);
  if (state < 0 || state == kServiceRunning) return state;
  if (state == kServiceStopped) {
    if (!StartServiceW(service.get(), 0, nullptr)) return kStartFailed;
  } else if (state == kServicePaused) {
    // The status the continue control answers with is the last one known before the wait.
    if (!ControlService(service.get(), SERVICE_CONTROL_CONTINUE, &status)) return kStartFailed;
  } else {
    return kStartPending;
  }
  return WaitUntilRunning(
      Reading(status),
      [&]() -> std::optional<ServiceStatusReading> {
        SERVICE_STATUS now{};
        if (!QueryServiceStatus(service.get(), &now)) return std::nullopt;
        return Reading(now);
      },
      clock_, stopRequested_);
}

}  // namespace mvx
