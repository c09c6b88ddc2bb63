#include "commands/check_host_items.h"

#include <algorithm>
#include <exception>
#include <map>
#include <memory>
#include <vector>

#include "common/json_text.h"
#include "common/text_util.h"
#include "companion/companion_installer.h"
#include "companion/service_control.h"
#include "service/event_log.h"
#include "vendorlink/host_resolver.h"
#include "vendorlink/pinger.h"
#include "vendorlink/tcp_socket.h"

namespace mvx {
namespace {

constexpr int kNetworkWaitMs = 3000;

const std::map<int, std::string>& StateWords() {
  static const std::map<int, std::string> kStates = {
      {kServiceRunning, "running"},
      {kServiceStopped, "stopped"},
      {kServicePaused, "paused"},
      {kServiceStartPending, "starting"},
      {kServiceStopPending, "stopping"},
      {kServiceContinuePending, "resuming"},
      {kServicePausePending, "pausing"},
      {kServiceNotOpened, "not installed (or not accessible)"},
      {kManagerNotOpened, "service manager not reachable"}};
  return kStates;
}

std::string StateText(int state) {
  const auto found = StateWords().find(state);
  return found != StateWords().end() ? found->second : "state unknown";
}

}  // namespace

CheckItem AgentItem(const OperatorSettings& loaded, const AgentState& agent) {
  const std::string text = StateText(agent.state);
  std::vector<CheckFigure> figures = {{"state", JsonQuote(text)}};
  // A pause changes only the reported state: the backups go on, yet the state wants a look.
  const bool paused = agent.state == kServicePaused;
  if (agent.state != kServiceRunning && !paused) {
    return MakeCheckItem(CheckStatus::kFail, "Agent",
                         std::string(kServiceName) + " " + text + ": no backups are taken",
                         figures);
  }
  std::string detail = std::string(kServiceName) + " " + text + (paused ? ", backups go on" : "");
  const std::optional<std::string> note = UnappliedSettingsNote(loaded, agent);
  if (note) detail += "; " + *note;
  return MakeCheckItem(paused || note ? CheckStatus::kWarn : CheckStatus::kOk, "Agent", detail,
                       figures);
}

CheckItem SupportLinkItem(const ServiceOptions& options, std::string_view transportMode) {
  const LinkEndpoints& endpoints = options.endpoints;
  const std::uint16_t port = transportMode == "2" ? endpoints.httpPort : endpoints.linePort;
  std::unique_ptr<Pinger> ownPinger;
  std::string pingerError;
  Pinger* pinger = options.pinger;
  if (pinger == nullptr) {
    try {
      ownPinger = std::make_unique<IcmpPinger>(kNetworkWaitMs);
      pinger = ownPinger.get();
    } catch (const std::exception& e) {
      pingerError = e.what();
    }
  }
  HostResolver resolver(std::min(endpoints.resolveTimeoutMs, kNetworkWaitMs), nullptr);
  bool anyAnswered = false;
  std::vector<std::string> notes;
  std::string hostsJson;
  for (const std::string& host : {endpoints.primaryHost, endpoints.secondaryHost}) {
    const std::string address = resolver.Resolve(host);
    bool pinged = false, connected = false;
    std::string error = "unknown host";
    if (!address.empty()) {
      pinged = pinger != nullptr && pinger->Ping(address).answered;
      TcpSocket socket;
      connected = socket.Connect(address, port, kNetworkWaitMs, error);
    }
    anyAnswered = anyAnswered || (pinged && connected);
    if (address.empty()) {
      notes.push_back(host + ": name not resolved");
    } else {
      notes.push_back(host + (address == host ? "" : " (" + address + ")") + ": ping " +
                      (pinged ? "answered" : "no answer") + ", port " + std::to_string(port) +
                      (connected ? " open" : " closed"));
    }
    hostsJson += std::string(hostsJson.empty() ? "" : ",") + "{\"host\":" + JsonQuote(host) +
                 ",\"ping\":" + (pinged ? "true" : "false") +
                 ",\"connect\":" + (connected ? "true" : "false") + "}";
  }
  if (!pingerError.empty()) notes.push_back("ping unavailable: " + pingerError);
  return MakeCheckItem(anyAnswered ? CheckStatus::kOk : CheckStatus::kWarn, "Support link",
                       JoinedByCommas(notes) + (anyAnswered ? "" : "; backups do not depend on it"),
                       {{"port", std::to_string(port)}, {"hosts", "[" + hostsJson + "]"}});
}

CheckItem CompanionStateItem(const ServiceOptions& options, const std::string& agentDir) {
  int state = 0;
  AskServiceManager(options, agentDir, [&](ServiceControl& control) {
    state = control.QueryServiceState(kCompanionServiceName);
  });
  const std::string text = StateText(state);
  return MakeCheckItem(state == kServiceRunning ? CheckStatus::kOk : CheckStatus::kWarn,
                       "Companion", std::string(kCompanionServiceName) + " " + text,
                       {{"state", JsonQuote(text)}});
}

}  // namespace mvx
