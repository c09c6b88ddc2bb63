#pragma once

#include <string>
#include <string_view>

namespace mvx {

// Text is UTF-8 inside the program; these two convert at the edges where bytes
// are stored or sent in the ANSI code page (CP949 on POSIX, the system's code
// page on Windows). Neither throws: a character the target cannot hold, or an
// invalid input sequence, becomes one '?'.
std::string ToAnsi(std::string_view utf8);
std::string FromAnsi(std::string_view ansi);

// CP949 on every platform, whatever the system's code page: what the database
// stores for Korean text. Replaces like ToAnsi.
std::string ToCp949(std::string_view utf8);

}  // namespace mvx
