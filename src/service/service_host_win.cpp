#include <windows.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <iostream>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "common/console_text.h"
#include "common/host_info.h"
#include "common/win_text.h"
#include "service/command_line.h"
#include "service/console_echo.h"
#include "service/event_log.h"
#include "service/link_overrides.h"
#include "service/service_host.h"
#include "service/service_installer.h"
#include "service/tf_mvx_backup_main.h"
#include "service/win_error_text.h"

namespace mvx {
namespace {

constexpr DWORD kWaitHintMs = 5000;
// The service-specific exit code of a start that failed, so that the SCM's
// recovery actions see a failure.
constexpr DWORD kStartFailedCode = 1;
constexpr DWORD kStopFailedCode = 2;
// Posted by the stop thread when the stop has ended, and after a console run's start.
constexpr DWORD kStopDone = 0xFFFF'0000;
constexpr DWORD kStartDone = 0xFFFF'0001;

bool IsStopControl(DWORD control) {
  return control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_SHUTDOWN ||
         control == SERVICE_CONTROL_PRESHUTDOWN;
}

// Control codes handed from the SCM's handler to the service thread.
class ControlQueue {
 public:
  void Post(DWORD code) {
    {
      std::lock_guard lock(mutex_);
      codes_.push_back(code);
    }
    changed_.notify_all();
  }
  DWORD Take() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !codes_.empty(); });
    const DWORD code = codes_.front();
    codes_.pop_front();
    return code;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<DWORD> codes_;
};

// The status the SCM sees; reported from the service thread and from the
// threads that keep a pending state's checkpoint moving.
class StatusReporter {
 public:
  StatusReporter(SERVICE_STATUS_HANDLE handle, SystemEventLog& eventLog)
      : handle_(handle), eventLog_(eventLog) {}

  void Report(DWORD state, DWORD serviceExitCode = 0) {
    std::lock_guard lock(mutex_);
    const bool pending = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING;
    status_.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status_.dwCurrentState = state;
    // Nothing while pending: the SCM sends no control to a service in START_PENDING or
    // STOP_PENDING, whatever it says it accepts.
    status_.dwControlsAccepted = pending || state == SERVICE_STOPPED
                                     ? 0
                                     : SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE |
                                           SERVICE_ACCEPT_SHUTDOWN | SERVICE_ACCEPT_PRESHUTDOWN;
    status_.dwWin32ExitCode = serviceExitCode != 0 ? ERROR_SERVICE_SPECIFIC_ERROR : NO_ERROR;
    status_.dwServiceSpecificExitCode = serviceExitCode;
    status_.dwWaitHint = pending ? kWaitHintMs : 0;
    status_.dwCheckPoint = pending ? status_.dwCheckPoint + 1 : 0;
    if (!SetServiceStatus(handle_, &status_)) {
      eventLog_.Error(kServiceName, WinErrorText(GetLastError()));
    }
  }

 private:
  std::mutex mutex_;
  SERVICE_STATUS_HANDLE handle_;
  SystemEventLog& eventLog_;
  SERVICE_STATUS status_{};
};

// Reports the pending state again about every second while it lives, so the
// SCM sees the checkpoint move during a long start.
class PendingHeartbeat {
 public:
  PendingHeartbeat(StatusReporter& reporter, DWORD state)
      : thread_([this, &reporter, state] {
          std::unique_lock lock(mutex_);
          while (!done_.wait_for(lock, std::chrono::seconds(1), [this] { return finished_; })) {
            reporter.Report(state);
          }
        }) {}
  ~PendingHeartbeat() {
    {
      std::lock_guard lock(mutex_);
      finished_ = true;
    }
    done_.notify_all();
    thread_.join();
  }
  PendingHeartbeat(const PendingHeartbeat&) = delete;
  PendingHeartbeat& operator=(const PendingHeartbeat&) = delete;

 private:
  std::mutex mutex_;
  std::condition_variable done_;
  bool finished_ = false;
  std::thread thread_;
};

// Set once a console run's stop has ended.
class StopDone {
 public:
  void Set() {
    {
      std::lock_guard lock(mutex_);
      done_ = true;
    }
    changed_.notify_all();
  }
  // True when the stop has ended.
  bool WaitFor(std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [this] { return done_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool done_ = false;
};

// The SCM's handler and the console's have no context of ours but these.
ControlQueue g_controls;
StopDone g_consoleStopped;
// The exit code the service decided to end its process with, set before it reports STOPPED:
// the dispatcher may then return on the main thread, which must end the process the same way
// instead of running the ordinary exit under a thread still inside the driver.
std::atomic<int> g_endCode{-1};

// Windows ends a console process about 5 s after the window's close; the stop gets what it can.
constexpr std::chrono::milliseconds kCloseAllowance{4500};

// Ends the process at once: ExitProcess would run the DLLs' detach code, which can deadlock on a
// thread still stuck inside the database driver.
[[noreturn]] void EndProcessNow(UINT code) {
  std::cout.flush();
  TerminateProcess(GetCurrentProcess(), code);
  ExitProcess(code);  // not reached
}

// Reports STOPPED with `code` and ends the process with the same code, never by the ordinary
// exit: a connect given up on, or work a stop gave up on, may still run inside the driver.
[[noreturn]] void EndServiceProcess(StatusReporter& status, DWORD code) {
  g_endCode = static_cast<int>(code);
  status.Report(SERVICE_STOPPED, code);
  EndProcessNow(code);
}

DWORD WINAPI ControlHandler(DWORD control, DWORD, LPVOID, LPVOID) {
  switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
    case SERVICE_CONTROL_PRESHUTDOWN:
    case SERVICE_CONTROL_PAUSE:
    case SERVICE_CONTROL_CONTINUE:
      g_controls.Post(control);
      return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
      return NO_ERROR;
    default:
      return ERROR_CALL_NOT_IMPLEMENTED;
  }
}

// Runs the stop on a thread of its own while this thread keeps taking
// controls: a shutdown or preshutdown as the first control cancels at once,
// and so does a second Ctrl+C in a console (the SCM itself sends no control
// while STOP_PENDING). False when the running work did not end.
bool StopWhileTakingControls(TfMvxBackupMain& module, DWORD firstControl) {
  if (firstControl != SERVICE_CONTROL_STOP) module.CancelNow();
  bool stopped = false;
  std::thread stopper;
  try {
    stopper = std::thread([&] {
      stopped = module.ServiceStop();
      g_controls.Post(kStopDone);
    });
  } catch (const std::system_error&) {
    return module.ServiceStop();  // no thread to spare: a stop without the second request
  }
  for (DWORD control = g_controls.Take(); control != kStopDone; control = g_controls.Take()) {
    if (IsStopControl(control)) module.CancelNow();
  }
  stopper.join();
  return stopped;
}

void WINAPI ServiceMain(DWORD, LPSTR*) {
  SystemEventLog eventLog;
  const std::string name(kServiceName);
  const SERVICE_STATUS_HANDLE handle =
      RegisterServiceCtrlHandlerExA(name.c_str(), ControlHandler, nullptr);
  if (handle == nullptr) {
    eventLog.Error(kServiceName, WinErrorText(GetLastError()));
    return;
  }
  StatusReporter status(handle, eventLog);
  status.Report(SERVICE_START_PENDING);
  SystemClock clock;
  ServiceOptions options;
  options.exeDir = ExecutableDir();
  ApplySupportHostOverrides(options.endpoints);
  options.stopPending = [&] { status.Report(SERVICE_STOP_PENDING); };
  std::unique_ptr<TfMvxBackupMain> module;
  try {
    const PendingHeartbeat starting(status, SERVICE_START_PENDING);
    module = std::make_unique<TfMvxBackupMain>(clock, eventLog, options);
    module->ServiceStart();
  } catch (const std::exception& e) {
    eventLog.Error(kServiceName, std::string("Service failed on start: ") + e.what());
    if (module && module->ConnectStillOut()) EndServiceProcess(status, kStartFailedCode);
    module.reset();
    status.Report(SERVICE_STOPPED, kStartFailedCode);
    return;
  }
  // Only now has the start finished: the tables are there and the timer runs.
  status.Report(SERVICE_RUNNING);
  DWORD control = 0;
  for (;;) {
    control = g_controls.Take();
    if (control == SERVICE_CONTROL_PAUSE) {
      module->ServicePause();
      status.Report(SERVICE_PAUSED);
    } else if (control == SERVICE_CONTROL_CONTINUE) {
      module->ServiceContinue();
      status.Report(SERVICE_RUNNING);
    } else if (IsStopControl(control)) {
      break;
    }
  }
  status.Report(SERVICE_STOP_PENDING);
  if (!StopWhileTakingControls(*module, control)) {
    // The tick is stuck where nothing can cancel it: end without freeing what it holds.
    EndServiceProcess(status, kStopFailedCode);
  }
  // A connect given up on still runs in the driver: no DLL detach under it.
  if (module->ConnectStillOut()) EndServiceProcess(status, 0);
  module.reset();
  status.Report(SERVICE_STOPPED);
}

// Ctrl+C and Ctrl+Break run the ordinary stop (during the start: end it). Closing the window (or
// a logoff or shutdown) ends the process when this returns, so the stop then cancels at once and
// this waits for it, then ends the process itself: returning would let the system tear it down
// under a thread still in the driver.
BOOL WINAPI ConsoleCtrlHandler(DWORD type) {
  if (type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT) {
    g_controls.Post(SERVICE_CONTROL_STOP);
    return TRUE;
  }
  g_controls.Post(SERVICE_CONTROL_SHUTDOWN);
  EndProcessNow(g_consoleStopped.WaitFor(kCloseAllowance) ? 0 : 1);
}

// Takes the console's controls on a thread of its own while the start runs: a stop request ends
// the start (AbortStart), as a stop during a service's start would.
class StartControls {
 public:
  explicit StartControls(TfMvxBackupMain& module) {
    try {
      thread_ = std::thread([this, &module] {
        for (DWORD control = g_controls.Take(); control != kStartDone;
             control = g_controls.Take()) {
          if (!IsStopControl(control)) continue;
          if (first_ == 0) first_ = control;
          module.AbortStart();
        }
      });
    } catch (const std::system_error&) {
      // No thread to spare: a request waits for the end of the start.
    }
  }
  ~StartControls() { End(); }
  StartControls(const StartControls&) = delete;
  StartControls& operator=(const StartControls&) = delete;
  // The stop control taken during the start (0: none). Ends the watching.
  DWORD End() {
    if (thread_.joinable()) {
      g_controls.Post(kStartDone);
      thread_.join();
    }
    return first_;
  }

 private:
  DWORD first_ = 0;
  std::thread thread_;
};

bool HasConsole() {
  DWORD process = 0;
  return GetConsoleProcessList(&process, 1) != 0;
}

// A console, or standard output going to a file or a pipe someone reads.
bool CanShowMessages() {
  if (HasConsole()) return true;
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  return out != nullptr && out != INVALID_HANDLE_VALUE && GetFileType(out) != FILE_TYPE_UNKNOWN;
}

// Without a console or an output nobody would see the agent's messages and no
// Ctrl+C could stop it, so it says how it is meant to run instead.
int NoConsole() {
  SystemEventLog eventLog;
  const std::string program = ExecutableFileName();
  const std::string text = program +
                           " -console needs a console: run it from a command prompt, or install "
                           "the service with -install and start it from Services.";
  std::cerr << text << std::endl;
  eventLog.Error(program, text);
  return 1;
}

int RunConsole() {
  if (!CanShowMessages()) return NoConsole();
  // Before the start, so that a Ctrl+C during a slow start is the agent's, not the default end.
  SetConsoleCtrlHandler(ConsoleCtrlHandler, TRUE);
  UseUtf8Console();
  SystemClock clock;
  SystemEventLog eventLog;
  ConsoleEcho echo(std::cout, clock);
  eventLog.SetEcho([&](std::string_view m) { echo.Line("event", "", m); });
  ServiceOptions options;
  options.exeDir = ExecutableDir();
  ApplySupportHostOverrides(options.endpoints);
  std::unique_ptr<TfMvxBackupMain> module;
  bool started = false;
  DWORD control = 0;
  try {
    module = std::make_unique<TfMvxBackupMain>(clock, eventLog, options);
    module->textLog().SetEcho([&](std::string_view m) { echo.Line("log", "", m); });
    module->serviceTables().SetEcho([&](std::string_view db, std::string_view m, bool stored) {
      echo.Activity(db, m, stored);
    });
    StartControls controls(*module);
    started = module->ServiceStart();
    control = controls.End();
  } catch (const std::exception& e) {
    eventLog.Error(kServiceName, std::string("Service failed on start: ") + e.what());
    g_consoleStopped.Set();
    if (module && module->ConnectStillOut()) EndProcessNow(1);
    return 1;
  }
  if (!started) {
    echo.Line("service", "", "stopped during the start");
    std::cout.flush();
    g_consoleStopped.Set();
    if (module->ConnectStillOut()) EndProcessNow(0);
    return 0;
  }
  // A request that came just as the start ended: the start row is out, so stop as usual.
  if (control == 0) {
    echo.Line("service", "", "running; Ctrl+C stops");
    control = g_controls.Take();
    while (!IsStopControl(control)) control = g_controls.Take();
  }
  // A second Ctrl+C cancels a running statement at once.
  if (!StopWhileTakingControls(*module, control)) EndProcessNow(1);
  echo.Line("service", "", "stopped");
  std::cout.flush();
  g_consoleStopped.Set();
  if (module->ConnectStillOut()) EndProcessNow(0);
  return 0;
}

int Install(const CommandLine& command) {
  InstallTarget target;
  target.executablePath = ExecutablePath();
  const InstallOutcome outcome =
      command.install ? InstallService(target) : UninstallService(target);
  if (!command.silent) {
    MessageBoxW(nullptr, WideFromUtf8(InstallMessage(command.install, outcome)).c_str(),
                WideFromUtf8(ExecutableFileName()).c_str(),
                MB_OK | (outcome.ok ? MB_ICONINFORMATION : MB_ICONERROR));
  }
  return outcome.ok ? 0 : 1;
}

}  // namespace

int RunServiceHost(const CommandLine& command, bool /*noArguments*/) {
  if (command.install || command.uninstall) return Install(command);
  if (command.console) return RunConsole();
  std::string name(kServiceName);
  SERVICE_TABLE_ENTRYA table[] = {{name.data(), ServiceMain}, {nullptr, nullptr}};
  const BOOL dispatched = StartServiceCtrlDispatcherA(table);
  // The service decided to end its process: the same end here, whichever thread comes first.
  if (const int code = g_endCode.load(); code >= 0) EndProcessNow(static_cast<UINT>(code));
  if (!dispatched) {
    const DWORD error = GetLastError();
    SystemEventLog eventLog;
    eventLog.Error(ExecutableFileName(), WinErrorText(error));
    if (error == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT && HasConsole()) {
      std::cerr << ExecutableFileName() << " is the Windows service " << kServiceName
                << ": install it with -install, or run it in this console with -console."
                << std::endl;
    }
    return 1;
  }
  return 0;
}

}  // namespace mvx
