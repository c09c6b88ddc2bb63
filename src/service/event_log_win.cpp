#include <windows.h>

#include <string>

#include "common/win_text.h"
#include "service/event_log.h"

namespace mvx {
namespace {

// Wine's event log accepts entries but keeps none, so the Wine stage names a
// file in MVX_EVENT_LOG_FILE that receives a copy of each entry, one UTF-8 line.
void CopyToStandInFile(std::string_view source, std::string_view message) {
  wchar_t path[MAX_PATH];
  const DWORD length = GetEnvironmentVariableW(L"MVX_EVENT_LOG_FILE", path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  const std::string line = std::string(source) + ": " + std::string(message) + "\r\n";
  DWORD written = 0;
  WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  CloseHandle(file);
}

}  // namespace

void SystemEventLog::Error(std::string_view source, std::string_view message) {
  const std::wstring name = WideFromUtf8(source);
  const std::wstring text = WideFromUtf8(message);
  HANDLE handle = RegisterEventSourceW(nullptr, name.c_str());
  if (handle != nullptr) {
    const wchar_t* strings[] = {text.c_str()};
    ReportEventW(handle, EVENTLOG_ERROR_TYPE, 0, 0, nullptr, 1, 0, strings, nullptr);
    DeregisterEventSource(handle);
  }
  CopyToStandInFile(source, message);
  if (echo_) echo_(message);
}

}  // namespace mvx
