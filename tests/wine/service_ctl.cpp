// Drives a service through the SCM for the Wine stage, where `net pause` and
// `sc pause` do not work: ControlService does.
//   MvxServiceCtl start|stop|pause|continue NAME
//   MvxServiceCtl wait NAME STATE SECONDS   (STATE: RUNNING, PAUSED, STOPPED)
//   MvxServiceCtl query NAME                 (prints the state, exit code and service code)
//   MvxServiceCtl disable NAME               (start type Disabled, as an administrator sets it)
//   MvxServiceCtl config NAME                (prints type, start type, error control, account,
//                                             display name and path, one per line)
// Exit code 0 when the request was accepted or the state was reached.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

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

const wchar_t* StateName(DWORD state) {
  switch (state) {
    case SERVICE_STOPPED:
      return L"STOPPED";
    case SERVICE_START_PENDING:
      return L"START_PENDING";
    case SERVICE_STOP_PENDING:
      return L"STOP_PENDING";
    case SERVICE_RUNNING:
      return L"RUNNING";
    case SERVICE_CONTINUE_PENDING:
      return L"CONTINUE_PENDING";
    case SERVICE_PAUSE_PENDING:
      return L"PAUSE_PENDING";
    case SERVICE_PAUSED:
      return L"PAUSED";
    default:
      return L"UNKNOWN";
  }
}

int Fail(const wchar_t* what) {
  std::fwprintf(stderr, L"%ls failed: error %lu\n", what, GetLastError());
  return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    std::fwprintf(stderr, L"usage: MvxServiceCtl start|stop|pause|continue|query|wait NAME ...\n");
    return 2;
  }
  const std::wstring verb = argv[1];
  ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (manager.get() == nullptr) return Fail(L"OpenSCManager");
  ScHandle service(OpenServiceW(manager.get(), argv[2],
                                SERVICE_START | SERVICE_STOP | SERVICE_PAUSE_CONTINUE |
                                    SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG |
                                    SERVICE_CHANGE_CONFIG));
  if (service.get() == nullptr) return Fail(L"OpenService");
  SERVICE_STATUS status{};
  if (verb == L"disable") {
    return ChangeServiceConfigW(service.get(), SERVICE_NO_CHANGE, SERVICE_DISABLED,
                                SERVICE_NO_CHANGE, nullptr, nullptr, nullptr, nullptr, nullptr,
                                nullptr, nullptr)
               ? 0
               : Fail(L"ChangeServiceConfig");
  }
  if (verb == L"start") {
    return StartServiceW(service.get(), 0, nullptr) ? 0 : Fail(L"StartService");
  }
  if (verb == L"stop" || verb == L"pause" || verb == L"continue") {
    const DWORD control = verb == L"stop"    ? SERVICE_CONTROL_STOP
                          : verb == L"pause" ? SERVICE_CONTROL_PAUSE
                                             : SERVICE_CONTROL_CONTINUE;
    return ControlService(service.get(), control, &status) ? 0 : Fail(L"ControlService");
  }
  if (verb == L"query") {
    if (!QueryServiceStatus(service.get(), &status)) return Fail(L"QueryServiceStatus");
    std::wprintf(L"%ls %lu %lu\n", StateName(status.dwCurrentState), status.dwWin32ExitCode,
                 status.dwServiceSpecificExitCode);
    return 0;
  }
  if (verb == L"config") {
    DWORD needed = 0;
    QueryServiceConfigW(service.get(), nullptr, 0, &needed);
    // Eight-byte units: the record holds pointers into the rest of the buffer.
    std::vector<unsigned long long> buffer(needed / 8 + 1);
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    if (!QueryServiceConfigW(service.get(), config, static_cast<DWORD>(buffer.size() * 8),
                             &needed)) {
      return Fail(L"QueryServiceConfig");
    }
    std::wprintf(L"type %lu\nstart %lu\nerror %lu\naccount %ls\ndisplay %ls\npath %ls\n",
                 config->dwServiceType, config->dwStartType, config->dwErrorControl,
                 config->lpServiceStartName ? config->lpServiceStartName : L"",
                 config->lpDisplayName ? config->lpDisplayName : L"",
                 config->lpBinaryPathName ? config->lpBinaryPathName : L"");
    return 0;
  }
  if (verb == L"wait" && argc == 5) {
    const std::wstring wanted = argv[3];
    const long seconds = std::wcstol(argv[4], nullptr, 10);
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(seconds) * 1000;
    do {
      if (!QueryServiceStatus(service.get(), &status)) return Fail(L"QueryServiceStatus");
      if (wanted == StateName(status.dwCurrentState)) return 0;
      Sleep(200);
    } while (GetTickCount64() < deadline);
    std::fwprintf(stderr, L"still %ls after %ld s, not %ls\n", StateName(status.dwCurrentState),
                  seconds, wanted.c_str());
    return 1;
  }
  std::fwprintf(stderr, L"unknown request\n");
  return 2;
}
