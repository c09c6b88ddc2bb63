// A stand-in for systemctl that answers from a state file and records every call, so tests and
// the demo never reach the machine's systemd.
//
// MVX_SCRIPTED_SYSTEMCTL_STATE names the state file: "KEY=value" lines. LoadState, ActiveState,
// SubState and FreezerState are what "show" reports (the lines present, in file order).
// ShowOutput replaces that answer, ShowExit and ShowError make "show" fail. OnStart lists the
// ActiveState values a "start" goes through (one more at each later "show"; a step "KEY=value"
// sets another key), or "refuse";
// OnThaw does the same for FreezerState. EnableExit makes "enable" fail. "enable NAME" loads
// the unit when MVX_SYSTEMD_UNIT_DIR holds NAME.service. Each call is appended as one line to
// the state file's name with ".calls" added.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;

Entries Load(const std::string& path) {
  Entries entries;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    const std::size_t eq = line.find('=');
    if (eq != std::string::npos) entries.emplace_back(line.substr(0, eq), line.substr(eq + 1));
  }
  return entries;
}

void Save(const std::string& path, const Entries& entries) {
  std::ofstream out(path, std::ios::trunc);
  for (const auto& [key, value] : entries) out << key << '=' << value << '\n';
}

std::string Get(const Entries& entries, const std::string& key, const std::string& fallback = "") {
  for (const auto& [k, v] : entries) {
    if (k == key) return v;
  }
  return fallback;
}

void Set(Entries& entries, const std::string& key, const std::string& value) {
  for (auto& [k, v] : entries) {
    if (k == key) {
      v = value;
      return;
    }
  }
  entries.emplace_back(key, value);
}

// Applies the first step of a request's list now and queues the rest for later "show" calls.
int Request(Entries& entries, const std::string& list, const std::string& key) {
  if (list == "refuse") {
    std::cerr << "Job failed. See \"journalctl -xe\" for details.\n";
    return 1;
  }
  const std::size_t comma = list.find(',');
  const std::string step = list.substr(0, comma);
  // A step may also set another key ("ShowExit=1": the next show fails).
  const std::size_t eq = step.find('=');
  if (eq == std::string::npos) {
    Set(entries, key, step);
  } else {
    Set(entries, step.substr(0, eq), step.substr(eq + 1));
  }
  Set(entries, "Queue", comma == std::string::npos ? "" : list.substr(comma + 1));
  Set(entries, "QueueKey", key);
  return 0;
}

int Show(Entries& entries) {
  if (const int code = std::atoi(Get(entries, "ShowExit", "0").c_str()); code != 0) {
    std::cerr << Get(entries, "ShowError") << '\n';
    return code;
  }
  const std::string raw = Get(entries, "ShowOutput", "\x01");
  if (raw != "\x01") {
    std::cout << raw << '\n';
  } else {
    for (const auto& [key, value] : entries) {
      if (key == "LoadState" || key == "ActiveState" || key == "SubState" || key == "FreezerState")
        std::cout << key << '=' << value << '\n';
    }
  }
  const std::string queue = Get(entries, "Queue");
  if (!queue.empty()) Request(entries, queue, Get(entries, "QueueKey"));
  return 0;
}

int Enable(Entries& entries, const std::string& name) {
  const char* dir = std::getenv("MVX_SYSTEMD_UNIT_DIR");
  if (dir == nullptr || !std::filesystem::exists(std::string(dir) + "/" + name + ".service") ||
      Get(entries, "EnableExit", "0") != "0") {
    std::cerr << "Failed to enable unit: Unit file " << name << ".service does not exist.\n";
    return 1;
  }
  if (Get(entries, "LoadState") == "not-found") {
    Set(entries, "LoadState", "loaded");
    Set(entries, "ActiveState", "inactive");
    Set(entries, "SubState", "dead");
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const char* state = std::getenv("MVX_SCRIPTED_SYSTEMCTL_STATE");
  if (state == nullptr) {
    std::cerr << "MVX_SCRIPTED_SYSTEMCTL_STATE is not set\n";
    return 1;
  }
  std::vector<std::string> args(argv + 1, argv + argc);
  {
    std::ostringstream call;
    for (std::size_t i = 0; i < args.size(); ++i) call << (i ? " " : "") << args[i];
    std::ofstream(std::string(state) + ".calls", std::ios::app) << call.str() << '\n';
  }
  Entries entries = Load(state);
  int code = 1;
  const std::string verb = args.empty() ? "" : args[0];
  if (verb == "show") {
    code = Show(entries);
  } else if (verb == "start") {
    code = Request(entries, Get(entries, "OnStart", "active"), "ActiveState");
  } else if (verb == "thaw") {
    code = Request(entries, Get(entries, "OnThaw", "running"), "FreezerState");
  } else if (verb == "enable" && args.size() == 2) {
    code = Enable(entries, args[1]);
  } else if (verb == "daemon-reload") {
    code = 0;
  } else {
    std::cerr << "Unknown command verb " << verb << ".\n";
  }
  Save(state, entries);
  return code;
}
