// systemctl for tests and the demo: answers from the state file MVX_SCRIPTED_SYSTEMCTL_STATE
// ("KEY=value" lines) and appends each call to that file's name with ".calls" added.
// "show" reports LoadState, ActiveState, SubState, FreezerState and ActiveEnterTimestamp
// (each when the file has it), or fails with ShowExit and
// ShowError. OnStart (OnThaw) lists the ActiveState (FreezerState) values a "start" ("thaw") goes
// through, one more at each later "show" (a step "KEY=value" sets that key), or "refuse".
// "enable NAME" loads the unit when MVX_SYSTEMD_UNIT_DIR holds NAME.service, unless EnableExit.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <string>

namespace {

using State = std::map<std::string, std::string>;

// Applies the first step of a list now and leaves the rest for the following "show" calls.
int Step(State& state, std::string list, std::string key) {
  if (list == "refuse") {
    std::cerr << "Job failed. See \"journalctl -xe\" for details.\n";
    return 1;
  }
  const std::size_t comma = list.find(',');
  const std::string step = list.substr(0, comma);
  const std::size_t eq = step.find('=');
  state[eq == std::string::npos ? key : step.substr(0, eq)] =
      eq == std::string::npos ? step : step.substr(eq + 1);
  state["Queue"] = comma == std::string::npos ? "" : list.substr(comma + 1);
  state["QueueKey"] = key;
  return 0;
}

int Run(State& state, const std::string& verb, const std::string& name) {
  if (verb == "show") {
    if (state["ShowExit"] != "" && state["ShowExit"] != "0") {
      std::cerr << state["ShowError"] << '\n';
      return std::atoi(state["ShowExit"].c_str());
    }
    for (const char* key :
         {"LoadState", "ActiveState", "SubState", "FreezerState", "ActiveEnterTimestamp"}) {
      if (state.count(key) != 0) std::cout << key << '=' << state[key] << '\n';
    }
    if (!state["Queue"].empty()) Step(state, state["Queue"], state["QueueKey"]);
    return 0;
  }
  if (verb == "start")
    return Step(state, state.count("OnStart") ? state["OnStart"] : "active", "ActiveState");
  if (verb == "thaw")
    return Step(state, state.count("OnThaw") ? state["OnThaw"] : "running", "FreezerState");
  if (verb == "daemon-reload") return 0;
  const char* units = std::getenv("MVX_SYSTEMD_UNIT_DIR");
  if (verb == "enable" && units != nullptr && state["EnableExit"].empty() &&
      std::filesystem::exists(std::string(units) + "/" + name + ".service")) {
    if (state["LoadState"] == "not-found") {
      state["LoadState"] = "loaded";
      state["ActiveState"] = "inactive";
    }
    return 0;
  }
  std::cerr << "Failed to " << verb << " " << name << ".\n";
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  const char* path = std::getenv("MVX_SCRIPTED_SYSTEMCTL_STATE");
  if (path == nullptr) return 1;
  std::string call;
  for (int i = 1; i < argc; ++i) call += (i > 1 ? " " : "") + std::string(argv[i]);
  std::ofstream(std::string(path) + ".calls", std::ios::app) << call << '\n';
  State state;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    const std::size_t eq = line.find('=');
    if (eq != std::string::npos) state[line.substr(0, eq)] = line.substr(eq + 1);
  }
  const int code = Run(state, argc > 1 ? argv[1] : "", argc > 2 ? argv[argc - 1] : "");
  std::ofstream out(path, std::ios::trunc);
  for (const auto& [key, value] : state) out << key << '=' << value << '\n';
  return code;
}
