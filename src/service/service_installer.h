#pragma once

#include <string>

namespace mvx {

// Where and how the service is registered; tests point it at a temporary folder.
struct InstallTarget {
  std::string executablePath;
  // POSIX: folder of the systemd unit; empty means /etc/systemd/system.
  std::string unitDir;
  // POSIX: run systemctl to enable or disable the unit when it is available.
  bool useSystemctl = true;
};

struct InstallOutcome {
  bool ok = false;
  std::string error;  // the system's error text when not ok
};

// Adds the service "fMvxBackupMain" ("Morvex Razu Rarevi"), started at boot, run by the system
// account.
InstallOutcome InstallService(const InstallTarget& target);
InstallOutcome UninstallService(const InstallTarget& target);

// The texts shown after an install or uninstall.
std::string InstallMessage(bool install, const InstallOutcome& outcome);

}  // namespace mvx
