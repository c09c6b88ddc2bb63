#include "commands/agent_start.h"

#include <atomic>
#include <cstdio>

#include "common/text_log.h"
#include "companion/service_control.h"
#include "service/event_log.h"

namespace mvx {

void AskServiceManager(const ServiceOptions& options, const std::string& agentDir,
                       const std::function<void(ServiceControl&)>& ask) {
  if (options.serviceControl != nullptr) {
    ask(*options.serviceControl);
    return;
  }
  const SystemClock clock;
  TextLog unusedLog(agentDir, clock);
  const std::atomic<bool> noStop{false};
  SystemServiceControl system(unusedLog, noStop);
  ask(system);
}

AgentState QueryAgent(const ServiceOptions& options, const std::string& agentDir) {
  AgentState agent;
  AskServiceManager(options, agentDir, [&](ServiceControl& control) {
    agent.state = control.QueryServiceState(kServiceName);
    if (agent.state == kServiceRunning || agent.state == kServicePaused) {
      agent.startedAt = control.ServiceStartedAt(kServiceName);
    }
  });
  return agent;
}

std::optional<std::string> UnappliedSettingsNote(const OperatorSettings& loaded,
                                                 const AgentState& agent) {
  if (!agent.startedAt || !loaded.modifiedAt || *loaded.modifiedAt <= *agent.startedAt) {
    return std::nullopt;
  }
  const LocalDateTime t = LocalTimeOfUnixSeconds(*agent.startedAt);
  char at[24];
  std::snprintf(at, sizeof at, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                t.minute, t.second);
  return std::string("settings changed since the agent started at ") + at +
         "; restart the service to apply";
}

}  // namespace mvx
