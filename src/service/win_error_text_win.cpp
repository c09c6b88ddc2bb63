#include <windows.h>

#include <string>

#include "common/ansi_codec.h"
#include "service/win_error_text.h"

namespace mvx {

std::string WinErrorText(unsigned long code) {
  char* buffer = nullptr;
  const DWORD n = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
  std::string text = n > 0 && buffer != nullptr ? std::string(buffer, n) : std::to_string(code);
  if (buffer != nullptr) LocalFree(buffer);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
    text.pop_back();
  }
  // The system writes it in the ANSI code page; inside the program every text is UTF-8.
  return FromAnsi(text);
}

}  // namespace mvx
