#include "service/service_installer.h"
#include "service/event_log.h"

namespace mvx {

std::string InstallMessage(bool install, const InstallOutcome& outcome) {
  if (outcome.ok) {
    const std::string done =
        install ? "Service installed successfully" : "Service uninstalled successfully";
    return outcome.note.empty() ? done : done + "\n" + outcome.note;
  }
  return std::string("Service \"") + std::string(kDisplayName) + "\" failed to " +
         (install ? "install" : "uninstall") + " with error: \"" + outcome.error + "\"";
}

}  // namespace mvx
