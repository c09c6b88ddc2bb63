#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "common/atomic_file.h"
#include "service/event_log.h"
#include "service/service_installer.h"

namespace mvx {
namespace {

std::string UnitName() { return std::string(kServiceName) + ".service"; }

std::string UnitPath(const InstallTarget& target) {
  const std::string dir = target.unitDir.empty() ? "/etc/systemd/system" : target.unitDir;
  return dir + "/" + UnitName();
}

std::string PackagedUnitPath(const InstallTarget& target) {
  const std::string dir =
      target.packagedUnitDir.empty() ? "/lib/systemd/system" : target.packagedUnitDir;
  return dir + "/" + UnitName();
}

// The path as one quoted ExecStart word. systemd expands "%" specifiers in it and reads C
// escapes inside the quotes, so a path holding these characters must be escaped.
std::string ExecStartWord(const std::string& path) {
  std::string word = "\"";
  for (char c : path) {
    if (c == '%') {
      word += c;
    } else if (c == '\\' || c == '"') {
      word += '\\';
    }
    word += c;
  }
  word += '"';
  return word;
}

// No start timeout: the start waits on the link checks and, with a server that never answers,
// on a login timeout of its own. A stop ends by itself within 45 s plus its last row;
// TimeoutStopSec is only the last resort.
std::string UnitText(const std::string& executablePath) {
  return "[Unit]\n"
         "Description=" +
         std::string(kDisplayName) +
         "\n"
         "After=network-online.target\n"
         "Wants=network-online.target\n"
         "\n"
         "[Service]\n"
         "Type=notify\n"
         "ExecStart=" +
         ExecStartWord(executablePath) +
         "\n"
         "User=root\n"
         "Restart=on-failure\n"
         "TimeoutStartSec=infinity\n"
         "TimeoutStopSec=60\n"
         "\n"
         "[Install]\n"
         "WantedBy=multi-user.target\n";
}

// Runs systemctl with the arguments when it exists; its outcome does not decide the install.
void Systemctl(const char* verb, const char* unit) {
  const char* candidates[] = {"/usr/bin/systemctl", "/bin/systemctl"};
  for (const char* path : candidates) {
    if (access(path, X_OK) != 0) continue;
    const pid_t pid = fork();
    if (pid == 0) {
      execl(path, "systemctl", "--quiet", verb, unit, static_cast<char*>(nullptr));
      _exit(127);
    }
    if (pid > 0) {
      int status = 0;
      while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
    }
    return;
  }
}

}  // namespace

InstallOutcome InstallService(const InstallTarget& target) {
  try {
    WriteFileAtomically(UnitPath(target), UnitText(target.executablePath));
  } catch (const std::exception& e) {
    return {false, e.what(), {}};
  }
  if (target.useSystemctl) {
    Systemctl("daemon-reload", nullptr);
    Systemctl("enable", (std::string(kServiceName) + ".service").c_str());
  }
  return {true, {}, {}};
}

// The package's unit is the package's to remove; a unit of -install's own beside it shadowed it
// until now.
InstallOutcome UninstallService(const InstallTarget& target) {
  const std::string path = UnitPath(target);
  const std::string packaged = PackagedUnitPath(target);
  const bool ownUnit = access(path.c_str(), F_OK) == 0;
  const bool packagedUnit = access(packaged.c_str(), F_OK) == 0;
  if (target.useSystemctl) Systemctl("disable", UnitName().c_str());
  if (!ownUnit && packagedUnit) {
    return {true,
            {},
            "The service is disabled; its unit " + packaged +
                " belongs to the package and stays until the package is removed."};
  }
  if (unlink(path.c_str()) != 0) return {false, std::strerror(errno), {}};
  if (target.useSystemctl) Systemctl("daemon-reload", nullptr);
  if (!packagedUnit) return {true, {}, {}};
  return {true,
          {},
          "Removed " + path + "; the package's unit " + packaged +
              " applies again (disabled until \"systemctl enable " + UnitName() + "\")."};
}

}  // namespace mvx
