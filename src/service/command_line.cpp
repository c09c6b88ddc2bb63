#include "service/command_line.h"

#include "common/host_info.h"
#include "common/text_util.h"

namespace mvx {
namespace {

constexpr std::string_view kProgramName = "MvxRazuRarevi";
constexpr std::string_view kUsage =
    "usage: MvxRazuRarevi [switch]\n"
    "  (none)      run as the service\n"
    "  -install    install the service\n"
    "  -uninstall  remove the service\n"
    "  -silent     with -install or -uninstall: no message\n"
    "  -console    run in the foreground with the messages shown here; Ctrl+C stops\n"
    "  -version    show the program name and its file version\n"
    "  -help       show this text (also --help, -?, /?)\n";

}  // namespace

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
    } else if (isSwitch && (word == "HELP" || word == "-HELP" || word == "?")) {
      result.help = true;
    } else if (isSwitch && (word == "VERSION" || word == "-VERSION")) {
      result.version = true;
    } else {
      result.unknown.push_back(arg);
    }
  }
  return result;
}

std::optional<int> AnswerCommandLine(const CommandLine& command, std::ostream& out,
                                     std::ostream& err) {
  // Whatever else is asked, nothing starts on a command line that is not understood.
  if (!command.unknown.empty()) {
    err << kProgramName << ": unknown switch " << command.unknown.front() << "\n" << kUsage;
    return 2;
  }
  if (command.help) {
    out << kUsage;
    return 0;
  }
  if (command.version) {
    out << kProgramName << " " << ReadFileVersion() << "\n";
    return 0;
  }
  return std::nullopt;
}

}  // namespace mvx
