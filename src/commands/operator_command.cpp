#include "commands/operator_command.h"

#include <cstdio>
#include <cstdlib>
#include <ostream>

#include "common/console_text.h"
#include "common/host_info.h"
#include "service/link_overrides.h"

namespace mvx {

std::optional<int> RunOperatorCommand(const CommandLine& command, std::ostream& out,
                                      std::ostream& err) {
  if (command.operatorCommand == OperatorCommand::kNone) return std::nullopt;
  int status = 0;
  {
    const Utf8ConsoleScope console;
    ServiceOptions options;
    options.exeDir = ExecutableDir();
    ApplySupportHostOverrides(options.endpoints);
    const SystemClock clock;
    const std::vector<std::string>& args = command.operatorArgs;
    switch (command.operatorCommand) {
      case OperatorCommand::kCheck:
        status = RunCheckCommand(args, options, clock, out, err);
        break;
      case OperatorCommand::kPlan:
        return RunPlanCommand(args, options, clock, out, err);
      case OperatorCommand::kRestore:
        return RunRestoreCommand(args, options, clock, out, err);
      case OperatorCommand::kRestoreTest:
        return RunRestoreTestCommand(args, options, clock, out, err);
      case OperatorCommand::kNone:
        return std::nullopt;
    }
  }
  // A check cut by its time limit may leave a part blocked in a driver call or on a network
  // path that never answers: the process ends without waiting for it or tearing down under it.
  out.flush();
  err.flush();
  std::fflush(nullptr);
  std::_Exit(status);
}

}  // namespace mvx
