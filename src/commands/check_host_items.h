#pragma once

#include <string>
#include <string_view>

#include "commands/agent_start.h"
#include "commands/check_items.h"
#include "common/clock.h"
#include "service/tf_mvx_backup_main.h"

namespace mvx {

// Each support host resolved, pinged and connected to on the port of the transport mode ("2"
// HTTP, anything else the line protocol). Warns at worst: backups do not depend on the link.
CheckItem SupportLinkItem(const ServiceOptions& options, std::string_view transportMode);

// The companion service's state as the system's service manager answers it.
CheckItem CompanionStateItem(const ServiceOptions& options, const std::string& agentDir);

// The agent's own service: FAIL when it does not run (no backups are taken), WARN when it is
// paused (the backups go on) or the settings file changed after it started (it works from what
// it read then).
CheckItem AgentItem(const OperatorSettings& loaded, const AgentState& agent);

}  // namespace mvx
