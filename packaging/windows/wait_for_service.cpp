// A custom action the installer runs right after it has asked the agent's service to stop: it
// waits until the service has stopped and its process has ended, so that the program files are
// no longer in use when they are removed or replaced. Wine's installer does not wait for the stop
// at all, and Windows waits for the stopped state but not for the process; the agent's stop may
// take up to 45 s while it waits for a running statement.
#include <windows.h>

namespace {

constexpr wchar_t kServiceName[] = L"fMvxBackupMain";
constexpr ULONGLONG kLimitMs = 90 * 1000;

class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  ~Handle() {
    if (handle_ != nullptr) CloseHandle(handle_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

class ScHandle {
 public:
  explicit ScHandle(SC_HANDLE handle) : handle_(handle) {}
  ~ScHandle() {
    if (handle_ != nullptr) CloseServiceHandle(handle_);
  }
  ScHandle(const ScHandle&) = delete;
  ScHandle& operator=(const ScHandle&) = delete;
  SC_HANDLE get() const { return handle_; }

 private:
  SC_HANDLE handle_;
};

bool Query(SC_HANDLE service, SERVICE_STATUS_PROCESS& status) {
  DWORD needed = 0;
  return QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                              sizeof status, &needed) != 0;
}

}  // namespace

// Success when the service is stopped with its process ended, or does not exist; a failure
// (which undoes the installer's work) when it still runs after the limit.
extern "C" __declspec(dllexport) UINT __stdcall WaitForAgentStop(unsigned long /*session*/) {
  const ULONGLONG deadline = GetTickCount64() + kLimitMs;
  ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (manager.get() == nullptr) return ERROR_SUCCESS;
  ScHandle service(OpenServiceW(manager.get(), kServiceName, SERVICE_QUERY_STATUS));
  SERVICE_STATUS_PROCESS status{};
  if (service.get() == nullptr || !Query(service.get(), status)) return ERROR_SUCCESS;
  // Taken while the service still runs: a stopped service no longer names its process.
  Handle process(status.dwProcessId != 0 ? OpenProcess(SYNCHRONIZE, FALSE, status.dwProcessId)
                                         : nullptr);
  while (status.dwCurrentState != SERVICE_STOPPED) {
    if (GetTickCount64() >= deadline) return ERROR_INSTALL_FAILURE;
    Sleep(200);
    if (!Query(service.get(), status)) return ERROR_SUCCESS;
  }
  if (process.get() == nullptr) return ERROR_SUCCESS;
  const ULONGLONG now = GetTickCount64();
  const DWORD left = now < deadline ? static_cast<DWORD>(deadline - now) : 0;
  return WaitForSingleObject(process.get(), left) == WAIT_OBJECT_0 ? ERROR_SUCCESS
                                                                   : ERROR_INSTALL_FAILURE;
}
