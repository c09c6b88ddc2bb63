#include <windows.h>

#include <climits>

#include "common/ansi_codec.h"

namespace mvx {
namespace {

std::wstring Widen(std::string_view text, UINT codePage) {
  if (text.empty() || text.size() > INT_MAX) return {};
  const int length = static_cast<int>(text.size());
  const int needed = MultiByteToWideChar(codePage, 0, text.data(), length, nullptr, 0);
  if (needed <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(needed), L'\0');
  MultiByteToWideChar(codePage, 0, text.data(), length, wide.data(), needed);
  return wide;
}

std::string Narrow(const std::wstring& wide, UINT codePage) {
  if (wide.empty() || wide.size() > INT_MAX) return {};
  const int length = static_cast<int>(wide.size());
  const char* defaultChar = codePage == CP_UTF8 ? nullptr : "?";
  const int needed =
      WideCharToMultiByte(codePage, 0, wide.data(), length, nullptr, 0, defaultChar, nullptr);
  if (needed <= 0) return {};
  std::string out(static_cast<std::size_t>(needed), '\0');
  WideCharToMultiByte(codePage, 0, wide.data(), length, out.data(), needed, defaultChar, nullptr);
  return out;
}

}  // namespace

// Invalid input becomes U+FFFD on the way in, which the code page writes as '?'.
std::string ToAnsi(std::string_view utf8) { return Narrow(Widen(utf8, CP_UTF8), CP_ACP); }

std::string FromAnsi(std::string_view ansi) { return Narrow(Widen(ansi, CP_ACP), CP_UTF8); }

std::string ToCp949(std::string_view utf8) {
  constexpr UINT kCp949 = 949;
  return Narrow(Widen(utf8, CP_UTF8), kCp949);
}

}  // namespace mvx
