#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <iostream>
#include <memory>
#include <system_error>
#include <thread>

#include "common/host_info.h"
#include "service/command_line.h"
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

// Sent to the watcher's own thread to end it; blocked like the others.
int WakeSignal() { return SIGRTMIN; }

// Takes SIGTERM and SIGINT on a thread of its own while the start or the stop
// runs on the main thread, so a request there is acted on when it comes.
class SignalWatcher {
 public:
  // `stopRequested` is set by every SIGTERM or SIGINT the watcher takes, up to its end.
  SignalWatcher(const sigset_t& signals, std::atomic<bool>& stopRequested,
                std::function<void()> onStop)
      : signals_(signals), stopRequested_(stopRequested), onStop_(std::move(onStop)) {
    try {
      thread_ = std::thread([this] { Watch(); });
    } catch (const std::system_error&) {
      // No thread to spare: requests wait for the main thread's next sigwait.
    }
  }
  ~SignalWatcher() {
    if (!thread_.joinable()) return;
    done_ = true;
    pthread_kill(thread_.native_handle(), WakeSignal());
    thread_.join();
  }
  SignalWatcher(const SignalWatcher&) = delete;
  SignalWatcher& operator=(const SignalWatcher&) = delete;

 private:
  void Watch() {
    for (;;) {
      int received = 0;
      if (sigwait(&signals_, &received) != 0) continue;
      // A request taken is always recorded, also one that came with the end: the owner reads
      // the flag only after the join, so no signal is consumed without being acted on.
      if (received == SIGTERM || received == SIGINT) {
        stopRequested_ = true;
        onStop_();
      }
      if (done_) return;
    }
  }

  sigset_t signals_;
  std::atomic<bool>& stopRequested_;
  std::function<void()> onStop_;
  std::atomic<bool> done_{false};
  std::thread thread_;
};

// The exit status, ending the process at once when a connect given up on still runs in the
// driver: the library teardown of a normal exit would free the driver's state under that thread.
int EndStatus(const TfMvxBackupMain& module, int status) {
  if (module.ConnectStillOut()) {
    std::cout.flush();
    std::cerr.flush();
    std::_Exit(status);
  }
  return status;
}

// Runs the service in the foreground until SIGTERM or SIGINT.
int RunForeground(bool console) {
  sigset_t signals;
  sigemptyset(&signals);
  for (int s : {SIGTERM, SIGINT, SIGUSR1, SIGUSR2, SIGHUP, WakeSignal()}) sigaddset(&signals, s);
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
  bool started = false;
  bool stopRequested = false;
  try {
    module = std::make_unique<TfMvxBackupMain>(clock, eventLog, options);
    if (console) {
      module->textLog().SetEcho([&](std::string_view m) { echo.Line("log", "", m); });
      module->serviceTables().SetEcho([&](std::string_view db, std::string_view m, bool stored) {
        echo.Activity(db, m, stored);
      });
    }
    Notify("STATUS=Starting");
    // A stop request during the start ends it: nothing more is sent, READY never comes.
    std::atomic<bool> requestedDuringStart{false};
    {
      const SignalWatcher watcher(signals, requestedDuringStart,
                                  [&module] { module->AbortStart(); });
      started = module->ServiceStart();
    }
    // Read once the watcher has ended: a request that came just as the start ended stops the
    // service as usual (the start row is out); a later one waits for the loop below.
    stopRequested = requestedDuringStart;
  } catch (const std::exception& e) {
    eventLog.Error(kServiceName, std::string("Service failed on start: ") + e.what());
    // As after a stop: a connect the start gave up on must not see the library teardown.
    return module ? EndStatus(*module, 1) : 1;
  }
  if (!started) {
    if (console) echo.Line("service", "", "stopped during the start");
    return EndStatus(*module, 0);
  }
  if (!stopRequested) {
    Notify("READY=1\nSTATUS=Running");
    if (console) echo.Line("service", "", "running; Ctrl+C stops");
  }
  while (!stopRequested) {
    int received = 0;
    if (sigwait(&signals, &received) != 0) continue;
    if (received == SIGUSR1) {
      module->ServicePause();
      Notify("STATUS=Paused");
    } else if (received == SIGUSR2) {
      module->ServiceContinue();
      Notify("STATUS=Running");
    } else if (received == SIGTERM || received == SIGINT) {
      stopRequested = true;
    }
  }
  Notify("STOPPING=1\nSTATUS=Stopping");
  bool stopped = false;
  {
    // A second request cancels a running statement at once.
    std::atomic<bool> secondRequest{false};
    const SignalWatcher watcher(signals, secondRequest, [&module] { module->CancelNow(); });
    stopped = module->ServiceStop();
    if (!stopped) {
      // The tick is stuck where nothing can cancel it: end without freeing what it holds.
      std::cout.flush();
      std::_Exit(1);
    }
  }
  if (console) echo.Line("service", "", "stopped");
  return EndStatus(*module, 0);
}

}  // namespace

int RunServiceHost(const CommandLine& command, bool noArguments) {
  if (noArguments && isatty(STDERR_FILENO)) std::cerr << kForegroundNotice << std::flush;
  if (command.install || command.uninstall) return Install(command);
  return RunForeground(command.console);
}

}  // namespace mvx
