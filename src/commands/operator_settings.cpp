#include "commands/operator_settings.h"

#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "common/atomic_file.h"

namespace mvx {
namespace {

std::optional<long long> ModifiedAt(const std::string& path) {
  std::error_code error;
  const std::filesystem::path file(
      std::u8string(reinterpret_cast<const char8_t*>(path.data()), path.size()));
  const auto written = std::filesystem::last_write_time(file, error);
  if (error) return std::nullopt;
  const auto system = std::chrono::file_clock::to_sys(written);
  return std::chrono::duration_cast<std::chrono::seconds>(system.time_since_epoch()).count();
}

}  // namespace

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
  if (iniPath && !loaded.fileExists) throw std::runtime_error("Unable to read " + loaded.path);
  ClearSettings(loaded.settings);
  LoadSettings(loaded.settings, loaded.path, false);
  if (loaded.fileExists) loaded.modifiedAt = ModifiedAt(loaded.path);
  return loaded;
}

}  // namespace mvx
