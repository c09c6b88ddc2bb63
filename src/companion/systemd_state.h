#pragma once

#include <string_view>

namespace mvx {

// The state code (or -1 not found, -3 unknown, -4 unreadable) of the output of
// "systemctl show -p LoadState -p ActiveState -p SubState -p FreezerState".
int ServiceStateFromSystemd(std::string_view showOutput);

}  // namespace mvx
