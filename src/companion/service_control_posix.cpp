#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <exception>
#include <optional>
#include <vector>

#include "common/atomic_file.h"
#include "companion/run_program.h"
#include "companion/service_control.h"
#include "companion/systemd_state.h"

namespace mvx {
namespace {

using std::chrono::milliseconds;

// systemctl answers a query or a --no-block request at once; a reload may take a while.
constexpr milliseconds kQueryLimit{10000};
constexpr milliseconds kReloadLimit{30000};
// The reload that undoes a half-done install is not cut by a stop; the stop still ends in time.
constexpr milliseconds kUndoLimit{10000};
// Far more than the four properties asked for; output that fills it was cut and is not read.
constexpr std::size_t kShowOutputLimit = 64 * 1024;

// Unit names as systemd accepts them; never an option for systemctl.
bool ValidUnitName(std::string_view name) {
  if (name.empty() || name.size() > 200 || name.front() == '-') return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ':' ||
           c == '_' || c == '.' || c == '-' || c == '@';
  });
}

// A unit-file line value must stay one line.
bool OneLine(std::string_view text) {
  return std::none_of(text.begin(), text.end(),
                      [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; });
}

// systemd expands "%" specifiers in both values and reads C escapes inside the quotes.
std::string EscapePercent(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '%') out += '%';
    out += c;
  }
  return out;
}

std::string ExecStartWord(std::string_view path) {
  std::string word = "\"";
  for (char c : EscapePercent(path)) {
    if (c == '\\' || c == '"') word += '\\';
    word += c;
  }
  return word + '"';
}

std::string UnitText(std::string_view displayName, std::string_view imagePath) {
  return "[Unit]\nDescription=" + EscapePercent(displayName) +
         "\n\n[Service]\nType=simple\nExecStart=" + ExecStartWord(imagePath) +
         "\nUser=root\n\n[Install]\nWantedBy=multi-user.target\n";
}

bool Contains(const std::string& text, std::string_view part) {
  return text.find(part) != std::string::npos;
}

// Undoes a half-done install, so that the next tick installs again instead of finding a unit
// that never loads. Runs after a stop too, with a bound of its own.
void RemoveUnit(const SystemdPaths& paths, std::string_view name, const std::string& unitPath) {
  static const std::atomic<bool> kNeverStopped{false};
  ::unlink(unitPath.c_str());
  // An enable cut short may have left its link to the unit behind.
  const std::string wants =
      paths.unitDir + "/multi-user.target.wants/" + std::string(name) + ".service";
  std::string linked(4096, '\0');
  const ssize_t length = ::readlink(wants.c_str(), linked.data(), linked.size());
  if (length > 0 && linked.substr(0, static_cast<std::size_t>(length)) == unitPath) {
    ::unlink(wants.c_str());
  }
  RunProgram(paths.systemctl, {"daemon-reload"}, kUndoLimit, kNeverStopped);
}

}  // namespace

int SystemServiceControl::QueryServiceState(std::string_view name) {
  if (!ValidUnitName(name)) return kServiceNotOpened;
  const ProgramResult shown = RunProgram(paths_.systemctl,
                                         {"show", "-p", "LoadState", "-p", "ActiveState", "-p",
                                          "SubState", "-p", "FreezerState", std::string(name)},
                                         kQueryLimit, stopRequested_, kShowOutputLimit);
  if (!shown.finished) return kManagerNotOpened;
  if (shown.exitCode != 0) {
    return Contains(shown.errors, "not found") || Contains(shown.output, "not found")
               ? kServiceNotOpened
               : kManagerNotOpened;
  }
  if (shown.output.size() >= kShowOutputLimit) return kServiceQueryFailed;
  return ServiceStateFromSystemd(shown.output);
}

std::optional<long long> SystemServiceControl::ServiceStartedAt(std::string_view name) {
  if (!ValidUnitName(name)) return std::nullopt;
  const ProgramResult shown =
      RunProgram(paths_.systemctl,
                 {"show", "--timestamp=unix", "-p", "ActiveEnterTimestamp", std::string(name)},
                 kQueryLimit, stopRequested_, kShowOutputLimit);
  if (!shown.finished || shown.exitCode != 0 || shown.output.size() >= kShowOutputLimit) {
    return std::nullopt;
  }
  return ActiveEnterFromSystemd(shown.output);
}

int SystemServiceControl::InstallService(std::string_view name, std::string_view displayName,
                                         std::string_view imagePath) {
  if (name.empty() || displayName.empty() || imagePath.empty()) return kInstallEmptyArgument;
  if (!ProgramAvailable(paths_.systemctl) || ::access(paths_.unitDir.c_str(), W_OK) != 0) {
    return kInstallNoManager;
  }
  bool cutByStop = false;
  const int result = [&] {
    const std::string unitPath = paths_.unitDir + "/" + std::string(name) + ".service";
    if (!ValidUnitName(name) || !OneLine(displayName) || !OneLine(imagePath) ||
        FileExists(unitPath)) {
      return kInstallRefused;
    }
    if (::chmod(std::string(imagePath).c_str(), 0755) != 0) return kInstallRefused;
    try {
      WriteFileAtomically(unitPath, UnitText(displayName, imagePath));
    } catch (const std::exception&) {
      return kInstallRefused;
    }
    const auto succeeded = [](const ProgramResult& r) { return r.finished && r.exitCode == 0; };
    if (succeeded(RunProgram(paths_.systemctl, {"daemon-reload"}, kReloadLimit, stopRequested_)) &&
        succeeded(RunProgram(paths_.systemctl, {"enable", std::string(name)}, kReloadLimit,
                             stopRequested_))) {
      return kInstallCreated;
    }
    cutByStop = stopRequested_;
    RemoveUnit(paths_, name, unitPath);
    return kInstallRefused;
  }();
  // A stop cut the install short: its outcome is not known, and the next start tries again.
  if (!cutByStop) LogInstallResult(result);
  return result;
}

int SystemServiceControl::StartServiceAndWait(std::string_view name) {
  const int state = QueryServiceState(name);
  if (state < 0 || state == kServiceRunning) return state;
  if (state != kServiceStopped && state != kServicePaused) return kStartPending;
  // Start without waiting here: the wait below is bounded and watches for a stop.
  const std::vector<std::string> request =
      state == kServiceStopped ? std::vector<std::string>{"start", "--no-block", std::string(name)}
                               : std::vector<std::string>{"thaw", std::string(name)};
  const ProgramResult accepted = RunProgram(paths_.systemctl, request, kQueryLimit, stopRequested_);
  if (!accepted.finished || accepted.exitCode != 0) return kStartFailed;
  // systemd gives no wait hint: the polls come every second.
  return WaitUntilRunning(
      {state, milliseconds(0)},
      [&]() -> std::optional<ServiceStatusReading> {
        const int now = QueryServiceState(name);
        if (now < 0 && now != kServiceStateUnknown) return std::nullopt;
        return ServiceStatusReading{now, milliseconds(0)};
      },
      clock_, stopRequested_);
}

}  // namespace mvx
