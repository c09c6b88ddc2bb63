#include "commands/operator_settings.h"

#include "common/atomic_file.h"

namespace mvx {

OperatorSettings LoadOperatorSettings(const ServiceOptions& options,
                                      const std::optional<std::string>& iniPath) {
  OperatorSettings loaded;
  loaded.agentDir = options.exeDir;
  loaded.path = options.exeDir + "RazuRarevi.ini";
  if (iniPath) {
    loaded.path = *iniPath;
    const std::size_t slash = iniPath->find_last_of("/\\");
    loaded.agentDir = slash == std::string::npos ? std::string() : iniPath->substr(0, slash + 1);
  }
  loaded.fileExists = FileExists(loaded.path);
  ClearSettings(loaded.settings);
  LoadSettings(loaded.settings, loaded.path, false);
  return loaded;
}

}  // namespace mvx
