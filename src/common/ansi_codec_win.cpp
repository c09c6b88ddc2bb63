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

// A character beyond the 16-bit range is two UTF-16 units, which a code page without it would
// write as "??"; one U+FFFD keeps it one '?' as on POSIX, so column widths agree.
std::wstring OneUnitPerUnmappable(std::wstring wide, UINT codePage) {
  if (codePage == CP_ACP) codePage = GetACP();
  if (codePage == CP_UTF8 || codePage == 54936) return wide;  // these hold every character
  std::wstring out;
  out.reserve(wide.size());
  for (std::size_t i = 0; i < wide.size(); ++i) {
    const bool pair = wide[i] >= 0xD800 && wide[i] <= 0xDBFF && i + 1 < wide.size() &&
                      wide[i + 1] >= 0xDC00 && wide[i + 1] <= 0xDFFF;
    out.push_back(pair ? L'\uFFFD' : wide[i]);
    if (pair) ++i;
  }
  return out;
}

}  // namespace

// Invalid input becomes U+FFFD on the way in, which the code page writes as '?'.
std::string ToAnsi(std::string_view utf8) {
  return Narrow(OneUnitPerUnmappable(Widen(utf8, CP_UTF8), CP_ACP), CP_ACP);
}

std::string FromAnsi(std::string_view ansi) { return Narrow(Widen(ansi, CP_ACP), CP_UTF8); }

std::string ToCp949(std::string_view utf8) {
  constexpr UINT kCp949 = 949;
  return Narrow(OneUnitPerUnmappable(Widen(utf8, CP_UTF8), kCp949), kCp949);
}

}  // namespace mvx
