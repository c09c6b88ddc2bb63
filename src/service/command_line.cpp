#include "service/command_line.h"

#include <iterator>

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
    "  -check [--json] [--timeout N] [--ini PATH]\n"
    "              try everything tonight's backup needs; writes nothing\n"
    "  -plan [--date YYYY-MM-DD] [--days N] [--json] [--ini PATH]\n"
    "              show what the agent would do on those days; writes nothing\n"
    "  -restore DB [--date YYYY-MM-DD] [--as NEWNAME] [--replace] [--run] [--ini PATH]\n"
    "              restore DB from the backup folder (without --run: show the plan)\n"
    "  -restore-test [DB] [--ini PATH]\n"
    "              restore the newest backups under another name, check and drop them\n"
    "  -help       show this text (also --help, -?, /?)\n";

OperatorCommand OperatorCommandNamed(std::string_view word) {
  if (word == "CHECK") return OperatorCommand::kCheck;
  if (word == "PLAN") return OperatorCommand::kPlan;
  if (word == "RESTORE") return OperatorCommand::kRestore;
  if (word == "RESTORE-TEST") return OperatorCommand::kRestoreTest;
  return OperatorCommand::kNone;
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
  CommandLine result;
  for (auto it = args.begin(); it != args.end(); ++it) {
    const std::string& arg = *it;
    const bool isSwitch = !arg.empty() && (arg[0] == '-' || arg[0] == '/');
    const std::string word = UpperAscii(isSwitch ? arg.substr(1) : arg);
    if (isSwitch && result.operatorCommand == OperatorCommand::kNone &&
        OperatorCommandNamed(word) != OperatorCommand::kNone) {
      // What follows belongs to the command, which judges it itself.
      result.operatorCommand = OperatorCommandNamed(word);
      result.operatorArgs.assign(std::next(it), args.end());
      break;
    }
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
  // -silent may come with a command: monitoring systems pass it to every call.
  const bool otherSwitch =
      command.install || command.uninstall || command.console || command.help || command.version;
  if (command.operatorCommand != OperatorCommand::kNone &&
      (otherSwitch || !command.unknown.empty())) {
    err << kProgramName << ": an operator command goes first and alone\n" << kUsage;
    return 2;
  }
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
