#include "common/owner_only_access.h"

#include <exception>

namespace mvx {

void NarrowSettingsAccess(const std::string& path, TextLog& log) {
  const AccessNarrowing outcome = NarrowToOwnerOnly(path);
  if (outcome == AccessNarrowing::Unchanged) return;
  try {
    log.WriteFileLog(outcome == AccessNarrowing::Narrowed
                         ? "Settings file limited to SYSTEM and Administrators: " + path
                         : "Unable to limit the settings file to SYSTEM and Administrators: " +
                               path);
  } catch (const std::exception&) {
    // A refused log write never stops the start.
  }
}

}  // namespace mvx
