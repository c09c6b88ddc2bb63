// Writes the systemd unit that "MvxRazuRarevi -install" would write for an agent installed at
// the given path, into the given folder, without touching systemd: the Debian package ships it.
// Usage: MvxWriteUnit FOLDER EXECUTABLE_PATH
#include <iostream>

#include "service/service_installer.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: MvxWriteUnit FOLDER EXECUTABLE_PATH\n";
    return 2;
  }
  mvx::InstallTarget target;
  target.unitDir = argv[1];
  target.executablePath = argv[2];
  target.useSystemctl = false;
  const mvx::InstallOutcome outcome = mvx::InstallService(target);
  if (!outcome.ok) {
    std::cerr << "MvxWriteUnit: " << outcome.error << "\n";
    return 1;
  }
  return 0;
}
