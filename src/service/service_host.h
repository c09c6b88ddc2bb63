#pragma once

#include "service/command_line.h"

namespace mvx {

// What the program does when no operator command is asked for: the install
// switches, the console mode, and otherwise running as the platform's service.
// `noArguments`: started without any word on the command line.
int RunServiceHost(const CommandLine& command, bool noArguments);

}  // namespace mvx
