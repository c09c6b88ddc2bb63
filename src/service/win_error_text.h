#pragma once

#include <string>

namespace mvx {

// The system's text for a Windows error code.
std::string WinErrorText(unsigned long code);

}  // namespace mvx
