#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "companion/service_control.h"

namespace mvx::testing {

// A service manager that answers with set codes and records the calls it gets.
struct FakeServiceControl final : ServiceControl {
  int QueryServiceState(std::string_view name) override {
    calls.push_back("query " + std::string(name));
    const auto own = stateOf.find(name);
    return own != stateOf.end() ? own->second : state;
  }
  std::optional<long long> ServiceStartedAt(std::string_view name) override {
    calls.push_back("started " + std::string(name));
    return startedAt;
  }
  int InstallService(std::string_view name, std::string_view display,
                     std::string_view image) override {
    calls.push_back("install " + std::string(name) + " | " + std::string(display) + " | " +
                    std::string(image));
    return installResult;
  }
  int StartServiceAndWait(std::string_view name) override {
    calls.push_back("start " + std::string(name));
    return startResult;
  }

  int state = kServiceRunning, installResult = kInstallCreated, startResult = kStartRunning;
  std::map<std::string, int, std::less<>> stateOf;  // a state of its own for a named service
  std::optional<long long> startedAt;
  std::vector<std::string> calls;
};

}  // namespace mvx::testing
