#include <windows.h>

#include <climits>
#include <stdexcept>

#include "support/sql/tds_wire.h"

namespace mvx::testing::tds {

// Code page 949 by number, whatever the system's ANSI code page is.
std::string utf8ToCp949(std::string_view text) {
  if (text.empty()) return {};
  if (text.size() > INT_MAX / 2) throw std::invalid_argument("VarChar cell too long");
  const int length = static_cast<int>(text.size());
  const int wideLength =
      MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), length, nullptr, 0);
  if (wideLength <= 0) throw std::invalid_argument("VarChar cell not valid UTF-8");
  std::wstring wide(static_cast<std::size_t>(wideLength), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), length, wide.data(), wideLength);
  BOOL lossy = FALSE;
  std::string out(text.size() * 2 + 1, '\0');
  const int written =
      WideCharToMultiByte(949, WC_NO_BEST_FIT_CHARS, wide.data(), wideLength, out.data(),
                          static_cast<int>(out.size()), nullptr, &lossy);
  if (written <= 0 || lossy) throw std::invalid_argument("VarChar cell not representable in CP949");
  out.resize(static_cast<std::size_t>(written));
  return out;
}

}  // namespace mvx::testing::tds
