#include "commands/operator_command.h"

#include "common/console_text.h"
#include "common/host_info.h"
#include "service/link_overrides.h"

namespace mvx {

std::optional<int> RunOperatorCommand(const CommandLine& command, std::ostream& out,
                                      std::ostream& err) {
  if (command.operatorCommand == OperatorCommand::kNone) return std::nullopt;
  UseUtf8Console();
  ServiceOptions options;
  options.exeDir = ExecutableDir();
  ApplySupportHostOverrides(options.endpoints);
  const SystemClock clock;
  const std::vector<std::string>& args = command.operatorArgs;
  switch (command.operatorCommand) {
    case OperatorCommand::kCheck:
      return RunCheckCommand(args, options, clock, out, err);
    case OperatorCommand::kPlan:
      return RunPlanCommand(args, options, clock, out, err);
    case OperatorCommand::kRestore:
      return RunRestoreCommand(args, options, clock, out, err);
    case OperatorCommand::kRestoreTest:
      return RunRestoreTestCommand(args, options, clock, out, err);
    case OperatorCommand::kNone:
      break;
  }
  return std::nullopt;
}

}  // namespace mvx
