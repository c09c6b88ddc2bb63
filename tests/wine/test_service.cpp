// A tiny Windows service that stands in for the companion in the Wine stage: it
// reports RUNNING at once, follows pause, continue and stop, and notes each
// control in "<exe>.events" beside itself so the stage can see it ran.
#include <windows.h>

#include <string>

namespace {

SERVICE_STATUS_HANDLE g_handle = nullptr;
SERVICE_STATUS g_status{};
HANDLE g_stopped = nullptr;
std::wstring g_eventsPath;

void Note(const char* what) {
  HANDLE file = CreateFileW(g_eventsPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  const std::string line = std::string(what) + "\r\n";
  DWORD written = 0;
  WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  CloseHandle(file);
}

void Report(DWORD state) {
  g_status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  g_status.dwCurrentState = state;
  g_status.dwControlsAccepted =
      state == SERVICE_STOPPED ? 0 : SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE;
  SetServiceStatus(g_handle, &g_status);
}

DWORD WINAPI Handler(DWORD control, DWORD, LPVOID, LPVOID) {
  switch (control) {
    case SERVICE_CONTROL_STOP:
      Note("stop");
      SetEvent(g_stopped);
      return NO_ERROR;
    case SERVICE_CONTROL_PAUSE:
      Note("pause");
      Report(SERVICE_PAUSED);
      return NO_ERROR;
    case SERVICE_CONTROL_CONTINUE:
      Note("continue");
      Report(SERVICE_RUNNING);
      return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
      return NO_ERROR;
    default:
      return ERROR_CALL_NOT_IMPLEMENTED;
  }
}

void WINAPI ServiceMain(DWORD argc, LPWSTR* argv) {
  g_handle = RegisterServiceCtrlHandlerExW(argc > 0 ? argv[0] : L"", Handler, nullptr);
  if (g_handle == nullptr) return;
  Note("start");
  Report(SERVICE_RUNNING);
  // Bounded like every wait: a stage that never stops it is torn down anyway.
  WaitForSingleObject(g_stopped, 10 * 60 * 1000);
  Report(SERVICE_STOPPED);
}

}  // namespace

int wmain() {
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return 1;
  g_eventsPath = std::wstring(path, length) + L".events";
  g_stopped = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (g_stopped == nullptr) return 1;
  // The SCM ignores the name for an own-process service.
  wchar_t name[] = L"";
  SERVICE_TABLE_ENTRYW table[] = {{name, ServiceMain}, {nullptr, nullptr}};
  const BOOL ok = StartServiceCtrlDispatcherW(table);
  CloseHandle(g_stopped);
  return ok ? 0 : 1;
}
