#pragma once

#include <string>

namespace mvx {

// The system's text for a Windows error code, as UTF-8.
std::string WinErrorText(unsigned long code);

}  // namespace mvx
