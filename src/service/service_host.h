#pragma once

#include <string>
#include <vector>

namespace mvx {

// The program entry behind main(): the install switches, the console mode,
// and otherwise running as the platform's service.
int RunServiceHost(const std::vector<std::string>& args);

}  // namespace mvx
