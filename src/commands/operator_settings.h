#pragma once

#include <optional>
#include <string>

#include "config/settings.h"
#include "service/tf_mvx_backup_main.h"

namespace mvx {

// The settings an operator command works from, loaded as a start loads them but read only:
// no leftover removal, no KeyWeek correction, no rewrite.
struct OperatorSettings {
  Settings settings;
  std::string path;                     // the settings file asked for
  bool fileExists = false;              // false: the built-in defaults
  std::string agentDir;                 // where the agent with this file keeps its text log
  std::optional<long long> modifiedAt;  // the file's last write, seconds since 1970 (UTC)
};

// `iniPath` from --ini, else the file beside the executable. Throws std::runtime_error
// ("Unable to read <path>") for a file that exists but cannot be read, and for a named file
// that does not exist: checking the built-in defaults instead would answer another question.
OperatorSettings LoadOperatorSettings(const ServiceOptions& options,
                                      const std::optional<std::string>& iniPath);

}  // namespace mvx
