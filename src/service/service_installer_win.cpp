#include <windows.h>

#include <memory>

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

InstallOutcome Failure() { return {false, WinErrorText(GetLastError())}; }

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
  if (!service) return Failure();
  return {true, {}};
}

InstallOutcome UninstallService(const InstallTarget&) {
  ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager) return Failure();
  const std::string name(kServiceName);
  ScHandle service(OpenServiceA(manager.get(), name.c_str(), SERVICE_ALL_ACCESS));
  if (!service) return Failure();
  if (!DeleteService(service.get())) return Failure();
  return {true, {}};
}

}  // namespace mvx
