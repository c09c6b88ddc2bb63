#pragma once

#include <functional>
#include <optional>
#include <string>

#include "commands/operator_settings.h"
#include "service/tf_mvx_backup_main.h"

namespace mvx {

class ServiceControl;

// Runs `ask` with the service manager of `options`, the system's when none is set. It only
// answers queries: the text log beside `agentDir` is never written.
void AskServiceManager(const ServiceOptions& options, const std::string& agentDir,
                       const std::function<void(ServiceControl&)>& ask);

// The running agent as its service manager sees it.
struct AgentState {
  int state = 0;                       // a QueryServiceState code
  std::optional<long long> startedAt;  // seconds since 1970 (UTC), when running and known
};

// Asks the service manager of `options` (the system's when none is set) about the agent.
AgentState QueryAgent(const ServiceOptions& options, const std::string& agentDir);

// "settings changed since the agent started at 2024-03-15 08:00:00; restart the service to
// apply" when the settings file was written after the running agent read it; nullopt when
// not, or when either time is unknown.
std::optional<std::string> UnappliedSettingsNote(const OperatorSettings& loaded,
                                                 const AgentState& agent);

}  // namespace mvx
