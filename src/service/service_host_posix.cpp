#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iostream>
#include <memory>
#include <system_error>
#include <thread>

#include "common/host_info.h"
#include "service/command_line.h"
#include "service/operator_command.h"
#include "service/console_echo.h"
#include "service/event_log.h"
#include "service/link_overrides.h"
#include "service/service_host.h"
#include "service/service_installer.h"
#include "service/tf_mvx_backup_main.h"

namespace mvx {
namespace {

// Tells systemd about the state when it started us with NOTIFY_SOCKET.
void Notify(const std::string& state) {
  const char* socketPath = std::getenv("NOTIFY_SOCKET");
  if (socketPath == nullptr || socketPath[0] == '\0') return;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::size_t length = std::strlen(socketPath);
  if (length >= sizeof address.sun_path) return;
  std::memcpy(address.sun_path, socketPath, length);
  if (address.sun_path[0] == '@') address.sun_path[0] = '\0';  // abstract namespace
  const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return;
  sendto(fd, state.data(), state.size(), MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&address),
         static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + length));
  close(fd);
}

int Install(const CommandLine& command) {
  InstallTarget target;
  target.executablePath = ExecutablePath();
  // Tests install into a folder of their own and leave systemd alone.
  if (const char* dir = std::getenv("MVX_SYSTEMD_UNIT_DIR")) {
    target.unitDir = dir;
    target.useSystemctl = false;
  }
  const InstallOutcome outcome =
      command.install ? InstallService(target) : UninstallService(target);
  if (!command.silent) std::cout << InstallMessage(command.install, outcome) << std::endl;
  return outcome.ok ? 0 : 1;
}

// Runs the stop on a thread of its own, so that a second SIGTERM or SIGINT
// can cut it short; true when it ended normally.
bool StopWhileWatchingSignals(TfMvxBackupMain& module, const sigset_t& signals) {
  std::atomic<bool> done{false};
  bool stopped = false;
  std::thread stopper;
  try {
    stopper = std::thread([&] {
      stopped = module.ServiceStop();
      done = true;
    });
  } catch (const std::system_error&) {
    return module.ServiceStop();  // no thread to spare: a stop without the second request
  }
  while (!done) {
    timespec slice{0, 100'000'000};
    const int received = sigtimedwait(&signals, nullptr, &slice);
    if (received == SIGTERM || received == SIGINT) module.CancelNow();
  }
  stopper.join();
  return stopped;
}

// Runs the service in the foreground until SIGTERM or SIGINT.
int RunForeground(bool console) {
  sigset_t signals;
  sigemptyset(&signals);
  for (int s : {SIGTERM, SIGINT, SIGUSR1, SIGUSR2, SIGHUP}) sigaddset(&signals, s);
  // Blocked before any thread starts, so every thread inherits the mask and sigwait sees them.
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  SystemClock clock;
  SystemEventLog eventLog;
  ConsoleEcho echo(std::cout, clock);
  if (console) eventLog.SetEcho([&](std::string_view m) { echo.Line("event", "", m); });

  ServiceOptions options;
  options.exeDir = ExecutableDir();
  ApplySupportHostOverrides(options.endpoints);
  options.stopPending = [] { Notify("EXTEND_TIMEOUT_USEC=5000000"); };
  std::unique_ptr<TfMvxBackupMain> module;
  try {
    module = std::make_unique<TfMvxBackupMain>(clock, eventLog, options);
    if (console) {
      module->textLog().SetEcho([&](std::string_view m) { echo.Line("log", "", m); });
      module->serviceTables().SetEcho([&](std::string_view db, std::string_view m, bool stored) {
        echo.Activity(db, m, stored);
      });
    }
    Notify("STATUS=Starting");
    module->ServiceStart();
  } catch (const std::exception& e) {
    eventLog.Error(kServiceName, std::string("Service failed on start: ") + e.what());
    return 1;
  }
  Notify("READY=1\nSTATUS=Running");
  if (console) echo.Line("service", "", "running; Ctrl+C stops");

  for (;;) {
    int received = 0;
    if (sigwait(&signals, &received) != 0) continue;
    if (received == SIGUSR1) {
      module->ServicePause();
      Notify("STATUS=Paused");
    } else if (received == SIGUSR2) {
      module->ServiceContinue();
      Notify("STATUS=Running");
    } else if (received == SIGTERM || received == SIGINT) {
      break;
    }
  }
  Notify("STOPPING=1\nSTATUS=Stopping");
  if (!StopWhileWatchingSignals(*module, signals)) {
    // The tick is stuck where nothing can cancel it: end without freeing what it holds.
    std::cout.flush();
    std::_Exit(1);
  }
  if (console) echo.Line("service", "", "stopped");
  return 0;
}

}  // namespace

int RunServiceHost(const std::vector<std::string>& args) {
  const CommandLine command = ParseCommandLine(args);
  if (const std::optional<int> status = AnswerCommandLine(command, std::cout, std::cerr)) {
    return *status;
  }
  if (const std::optional<int> status = RunOperatorCommand(command, std::cout, std::cerr)) {
    return *status;
  }
  if (args.empty() && isatty(STDERR_FILENO)) std::cerr << kForegroundNotice << std::flush;
  if (command.install || command.uninstall) return Install(command);
  return RunForeground(command.console);
}

}  // namespace mvx
