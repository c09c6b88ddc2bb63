#pragma once

#include <string>
#include <vector>

namespace mvx {

// The program's switches, introduced by "-" or "/" and matched without regard to case.
struct CommandLine {
  bool install = false;
  bool uninstall = false;
  bool silent = false;
  bool console = false;
  std::vector<std::string> unknown;
};

CommandLine ParseCommandLine(const std::vector<std::string>& args);

}  // namespace mvx
