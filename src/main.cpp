#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "commands/operator_command.h"
#include "common/console_text.h"
#include "service/command_line.h"
#include "service/service_host.h"

int main(int argc, char** argv) {
  // Operator commands take names (databases, folders) that may be Korean.
  const std::vector<std::string> args = mvx::Utf8Arguments(argc, argv);
  const mvx::CommandLine command = mvx::ParseCommandLine(args);
  if (const std::optional<int> status = mvx::AnswerCommandLine(command, std::cout, std::cerr)) {
    return *status;
  }
  if (const std::optional<int> status = mvx::RunOperatorCommand(command, std::cout, std::cerr)) {
    return *status;
  }
  return mvx::RunServiceHost(command, args.empty());
}
