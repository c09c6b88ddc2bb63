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
  // POSIX: folder of the unit the Debian package installs; empty means /lib/systemd/system.
  std::string packagedUnitDir;
};

struct InstallOutcome {
  bool ok = false;
  std::string error;  // the system's error text when not ok
  std::string note;   // what was done beside the usual, shown after the success text
};

// Adds the service "fMvxBackupMain" ("Morvex Razu Rarevi"), started at boot, run by the system
// account. An existing entry of that name for the same program counts as installed and keeps
// what an administrator set on it (Windows: start type, account, recovery actions).
InstallOutcome InstallService(const InstallTarget& target);
// POSIX: where only the package's unit is there, the service is disabled and the unit stays
// (the outcome's note says so).
InstallOutcome UninstallService(const InstallTarget& target);

// The texts shown after an install or uninstall.
std::string InstallMessage(bool install, const InstallOutcome& outcome);

}  // namespace mvx
