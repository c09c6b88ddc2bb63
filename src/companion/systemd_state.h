#pragma once

#include <optional>
#include <string_view>

namespace mvx {

// The state code (or -1 not found, -3 unknown, -4 unreadable) of the output of
// "systemctl show -p LoadState -p ActiveState -p SubState -p FreezerState".
int ServiceStateFromSystemd(std::string_view showOutput);

// The seconds since 1970 of "ActiveEnterTimestamp=@<seconds>" in the output of
// "systemctl show --timestamp=unix -p ActiveEnterTimestamp"; nullopt when it is missing, empty
// (never active) or not a number.
std::optional<long long> ActiveEnterFromSystemd(std::string_view showOutput);

}  // namespace mvx
