#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "common/clock.h"
#include "service/command_line.h"
#include "service/tf_mvx_backup_main.h"

namespace mvx {

// Operator commands answer an administrator from the command line and take no part in the
// service's ticks. Each receives the words after its switch, the options the running agent
// would use (the executable's folder, the support hosts with their run-time overrides) and the
// clock; tests point the options at loopback servers.
int RunCheckCommand(const std::vector<std::string>& args, const ServiceOptions& options,
                    const Clock& clock, std::ostream& out, std::ostream& err);
int RunPlanCommand(const std::vector<std::string>& args, const ServiceOptions& options,
                   const Clock& clock, std::ostream& out, std::ostream& err);
int RunRestoreCommand(const std::vector<std::string>& args, const ServiceOptions& options,
                      const Clock& clock, std::ostream& out, std::ostream& err);
int RunRestoreTestCommand(const std::vector<std::string>& args, const ServiceOptions& options,
                          const Clock& clock, std::ostream& out, std::ostream& err);

// Runs the operator command the command line names with the system's clock and the options of
// the installed agent; nullopt when it names none. After -check the process ends here: a part
// cut by the time limit may still be blocked, and nothing waits for it.
std::optional<int> RunOperatorCommand(const CommandLine& command, std::ostream& out,
                                      std::ostream& err);

}  // namespace mvx
