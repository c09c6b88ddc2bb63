#include <windows.h>

#include <shellapi.h>

#include <climits>
#include <memory>

#include "common/console_text.h"

namespace mvx {
namespace {

std::string ToUtf8(const wchar_t* wide) {
  const int needed = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (needed <= 1) return {};
  std::string out(static_cast<std::size_t>(needed), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide, -1, out.data(), needed, nullptr, nullptr);
  out.pop_back();  // the terminator
  return out;
}

}  // namespace

// main() receives ANSI bytes; the wide command line keeps every character.
std::vector<std::string> Utf8Arguments(int, char**) {
  int count = 0;
  const std::unique_ptr<LPWSTR, decltype(&LocalFree)> args(
      CommandLineToArgvW(GetCommandLineW(), &count), &LocalFree);
  std::vector<std::string> out;
  if (!args) return out;
  for (int i = 1; i < count; ++i) out.push_back(ToUtf8(args.get()[i]));
  return out;
}

void UseUtf8Console() { SetConsoleOutputCP(CP_UTF8); }

Utf8ConsoleScope::Utf8ConsoleScope() {
  const UINT current = GetConsoleOutputCP();  // 0 without a console
  if (current != 0 && current != CP_UTF8 && SetConsoleOutputCP(CP_UTF8)) previous_ = current;
}

Utf8ConsoleScope::~Utf8ConsoleScope() {
  if (previous_ != 0) SetConsoleOutputCP(previous_);
}

}  // namespace mvx
