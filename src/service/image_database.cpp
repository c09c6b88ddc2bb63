#include "service/image_database.h"

#include <algorithm>
#include <string>

#include "common/text_util.h"

namespace mvx {

bool ImageDatabaseListed(const Settings& settings) {
  return std::any_of(settings.databases.begin(), settings.databases.end(),
                     [](const std::string& slot) { return EqualsNoCase(slot, kImageDatabase); });
}

std::optional<std::size_t> AddImageDatabase(Settings& settings) {
  auto& slots = settings.databases;
  const auto empty = std::find(slots.begin(), slots.end(), std::string());
  if (empty == slots.end()) return std::nullopt;
  *empty = kImageDatabase;
  return static_cast<std::size_t>(empty - slots.begin());
}

}  // namespace mvx
