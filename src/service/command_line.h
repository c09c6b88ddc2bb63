#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace mvx {

// The operator commands; each takes the words after its switch as its own arguments.
enum class OperatorCommand { kNone, kCheck, kPlan, kRestore, kRestoreTest };

// The program's switches, introduced by "-" or "/" and matched without regard to case.
struct CommandLine {
  bool install = false;
  bool uninstall = false;
  bool silent = false;
  bool console = false;
  bool help = false;     // also --help, -?, /?
  bool version = false;  // also --version
  std::vector<std::string> unknown;
  OperatorCommand operatorCommand = OperatorCommand::kNone;
  std::vector<std::string> operatorArgs;
};

CommandLine ParseCommandLine(const std::vector<std::string>& args);

// Answers a request for help or the version, and anything not understood
// (the usage on `err`), without starting the agent: the exit status (0, or 2
// for what is not understood); nullopt when the agent or its installation is
// asked for.
std::optional<int> AnswerCommandLine(const CommandLine& command, std::ostream& out,
                                     std::ostream& err);

// Said once on standard error when the agent is started without a switch from a terminal
// (POSIX): it looks as if nothing happened.
inline constexpr std::string_view kForegroundNotice =
    "MvxRazuRarevi runs in the foreground; its messages go to syslog. Start it with -console "
    "to see them here. Ctrl+C stops it.\n";

}  // namespace mvx
