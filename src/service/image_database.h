#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

#include "config/settings.h"

namespace mvx {

// The image database joins the slots at a start when the server has it.
inline constexpr std::string_view kImageDatabase = "Brivellon";
// One row, its count: 1 when the server has the image database.
inline constexpr std::string_view kImageDatabaseQuery =
    "select count(*) from master.dbo.sysdatabases where name = 'Brivellon' ";

// Whether a slot names the image database already, in any letter case.
bool ImageDatabaseListed(const Settings& settings);
// Puts the image database into the first empty slot: its index, nullopt when every slot is taken.
std::optional<std::size_t> AddImageDatabase(Settings& settings);

}  // namespace mvx
