#include "service/command_line.h"

#include "common/text_util.h"

namespace mvx {

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
  CommandLine result;
  for (const std::string& arg : args) {
    const bool isSwitch = !arg.empty() && (arg[0] == '-' || arg[0] == '/');
    const std::string word = UpperAscii(isSwitch ? arg.substr(1) : arg);
    if (isSwitch && word == "INSTALL") {
      result.install = true;
    } else if (isSwitch && word == "UNINSTALL") {
      result.uninstall = true;
    } else if (isSwitch && word == "SILENT") {
      result.silent = true;
    } else if (isSwitch && word == "CONSOLE") {
      result.console = true;
    } else {
      result.unknown.push_back(arg);
    }
  }
  return result;
}

}  // namespace mvx
