#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace mvx {

// The one key used for every scrambled key name and value of the settings file.
inline constexpr std::uint16_t kSettingsKey = 23851;

// Byte strings in and out: callers pass the ANSI bytes of a text.
std::string ScrambleValue(std::string_view plain, std::uint16_t key = kSettingsKey);
std::string UnscrambleValue(std::string_view scrambled, std::uint16_t key = kSettingsKey);

}  // namespace mvx
