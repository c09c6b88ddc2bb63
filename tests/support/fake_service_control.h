#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "companion/service_control.h"

namespace mvx::testing {

// A service manager that answers with set codes and records the calls it gets.
class FakeServiceControl final : public ServiceControl {
 public:
  int QueryServiceState(std::string_view name) override {
    calls.push_back("query " + std::string(name));
    return state;
  }
  int InstallService(std::string_view name, std::string_view displayName,
                     std::string_view imagePath) override {
    calls.push_back("install " + std::string(name) + " | " + std::string(displayName) + " | " +
                    std::string(imagePath));
    return installResult;
  }
  int StartServiceAndWait(std::string_view name) override {
    calls.push_back("start " + std::string(name));
    return startResult;
  }

  int state = kServiceRunning;
  int installResult = kInstallCreated;
  int startResult = kStartRunning;
  std::vector<std::string> calls;
};

}  // namespace mvx::testing
