#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace mvx {

// The operators' settings editor: show, get, set, scramble, unscramble.
// Returns the process exit status.
int RunSettingsTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                    const std::string& defaultIniPath);

}  // namespace mvx
