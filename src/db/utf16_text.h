#pragma once

#include <string>
#include <string_view>

namespace mvx {

// UTF-8 inside the program, UTF-16 at the ODBC driver. Both directions are
// locale-independent; an invalid sequence becomes U+FFFD.
std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view utf16);

}  // namespace mvx
