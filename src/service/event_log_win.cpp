#include <windows.h>

#include <string>

#include "common/ansi_codec.h"
#include "service/event_log.h"

namespace mvx {

void SystemEventLog::Error(std::string_view source, std::string_view message) {
  const std::string name(source);
  const std::string text = ToAnsi(message);
  HANDLE handle = RegisterEventSourceA(nullptr, name.c_str());
  if (handle != nullptr) {
    const char* strings[] = {text.c_str()};
    ReportEventA(handle, EVENTLOG_ERROR_TYPE, 0, 0, nullptr, 1, 0, strings, nullptr);
    DeregisterEventSource(handle);
  }
  if (echo_) echo_(message);
}

}  // namespace mvx
