#include <windows.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "common/win_text.h"
#include "service/event_log.h"
#include "service/service_installer.h"
#include "service/win_error_text.h"

namespace mvx {
namespace {

struct ScHandleCloser {
  void operator()(SC_HANDLE h) const {
    if (h != nullptr) CloseServiceHandle(h);
  }
};
using ScHandle = std::unique_ptr<std::remove_pointer_t<SC_HANDLE>, ScHandleCloser>;

InstallOutcome Failure() { return {false, WinErrorText(GetLastError()), {}}; }
InstallOutcome Failure(DWORD error) { return {false, WinErrorText(error), {}}; }

// The program path of a service entry without the quotes it may be stored in (Wine's installer
// leaves them out), compared without regard to case as Windows compares paths.
bool SameProgram(std::wstring stored, std::wstring wanted) {
  auto unquote = [](std::wstring& path) {
    if (path.size() >= 2 && path.front() == L'"' && path.back() == L'"') {
      path = path.substr(1, path.size() - 2);
    }
  };
  unquote(stored);
  unquote(wanted);
  return CompareStringOrdinal(stored.c_str(), -1, wanted.c_str(), -1, TRUE) == CSTR_EQUAL;
}

// An entry that is already there (an earlier install, the package, a repair) is taken as it is
// when it runs this program: start type, account and recovery actions are the administrator's.
InstallOutcome ExistingEntry(SC_HANDLE manager, const std::wstring& name,
                             const std::wstring& path) {
  ScHandle service(OpenServiceW(manager, name.c_str(), SERVICE_QUERY_CONFIG));
  if (!service) return Failure(ERROR_SERVICE_EXISTS);
  DWORD needed = 0;
  QueryServiceConfigW(service.get(), nullptr, 0, &needed);
  std::vector<std::uint64_t> buffer(needed / sizeof(std::uint64_t) + 1);
  auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
  if (!QueryServiceConfigW(service.get(), config,
                           static_cast<DWORD>(buffer.size() * sizeof(std::uint64_t)), &needed) ||
      config->lpBinaryPathName == nullptr || !SameProgram(config->lpBinaryPathName, path)) {
    return Failure(ERROR_SERVICE_EXISTS);
  }
  return {true, {}, {}};
}

}  // namespace

InstallOutcome InstallService(const InstallTarget& target) {
  ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager) return Failure();
  const std::wstring name = WideFromUtf8(kServiceName);
  const std::wstring display = WideFromUtf8(kDisplayName);
  const std::wstring path = WideFromUtf8("\"" + target.executablePath + "\"");
  ScHandle service(CreateServiceW(manager.get(), name.c_str(), display.c_str(), SERVICE_ALL_ACCESS,
                                  SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
                                  SERVICE_ERROR_NORMAL, path.c_str(), nullptr, nullptr, nullptr,
                                  nullptr, nullptr));
  if (!service) {
    const DWORD error = GetLastError();
    if (error == ERROR_SERVICE_EXISTS) return ExistingEntry(manager.get(), name, path);
    return Failure(error);
  }
  return {true, {}, {}};
}

InstallOutcome UninstallService(const InstallTarget&) {
  ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager) return Failure();
  const std::string name(kServiceName);
  ScHandle service(OpenServiceA(manager.get(), name.c_str(), SERVICE_ALL_ACCESS));
  if (!service) return Failure();
  if (!DeleteService(service.get())) return Failure();
  return {true, {}, {}};
}

}  // namespace mvx
