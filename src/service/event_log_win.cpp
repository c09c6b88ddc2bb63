#include <windows.h>

#include <string>

#include "common/win_text.h"
#include "service/event_log.h"

namespace mvx {

void SystemEventLog::Error(std::string_view source, std::string_view message) {
  const std::wstring name = WideFromUtf8(source);
  const std::wstring text = WideFromUtf8(message);
  HANDLE handle = RegisterEventSourceW(nullptr, name.c_str());
  if (handle != nullptr) {
    const wchar_t* strings[] = {text.c_str()};
    ReportEventW(handle, EVENTLOG_ERROR_TYPE, 0, 0, nullptr, 1, 0, strings, nullptr);
    DeregisterEventSource(handle);
  }
  if (echo_) echo_(message);
}

}  // namespace mvx
