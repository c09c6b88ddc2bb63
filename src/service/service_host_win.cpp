#include <windows.h>

#include <condition_variable>
#include <deque>
#include <iostream>
#include <memory>
#include <mutex>

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

ControlQueue g_controls;  // the SCM's handler has no context of ours but this
SERVICE_STATUS_HANDLE g_statusHandle = nullptr;
SERVICE_STATUS g_status{};

void Report(DWORD state, SystemEventLog& eventLog) {
  g_status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  g_status.dwCurrentState = state;
  g_status.dwControlsAccepted =
      state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING
          ? 0
          : SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE | SERVICE_ACCEPT_SHUTDOWN;
  g_status.dwWin32ExitCode = NO_ERROR;
  g_status.dwWaitHint =
      state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING ? kWaitHintMs : 0;
  if (state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING) {
    ++g_status.dwCheckPoint;
  } else {
    g_status.dwCheckPoint = 0;
  }
  if (!SetServiceStatus(g_statusHandle, &g_status)) {
    eventLog.Error(kServiceName, WinErrorText(GetLastError()));
  }
}

DWORD WINAPI ControlHandler(DWORD control, DWORD, LPVOID, LPVOID) {
  switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
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

void WINAPI ServiceMain(DWORD, LPSTR*) {
  SystemEventLog eventLog;
  const std::string name(kServiceName);
  g_statusHandle = RegisterServiceCtrlHandlerExA(name.c_str(), ControlHandler, nullptr);
  if (g_statusHandle == nullptr) {
    eventLog.Error(kServiceName, WinErrorText(GetLastError()));
    return;
  }
  Report(SERVICE_START_PENDING, eventLog);
  SystemClock clock;
  ServiceOptions options;
  options.exeDir = ExecutableDir();
  ApplySupportHostOverrides(options.endpoints);
  options.stopPending = [&] { Report(SERVICE_STOP_PENDING, eventLog); };
  std::unique_ptr<TfMvxBackupMain> module;
  try {
    module = std::make_unique<TfMvxBackupMain>(clock, eventLog, options);
    module->ServiceStart();
  } catch (const std::exception& e) {
    eventLog.Error(kServiceName, std::string("Service failed on start: ") + e.what());
    Report(SERVICE_STOPPED, eventLog);
    return;
  }
  Report(SERVICE_RUNNING, eventLog);
  for (;;) {
    const DWORD control = g_controls.Take();
    if (control == SERVICE_CONTROL_PAUSE) {
      module->ServicePause();
      Report(SERVICE_PAUSED, eventLog);
    } else if (control == SERVICE_CONTROL_CONTINUE) {
      module->ServiceContinue();
      Report(SERVICE_RUNNING, eventLog);
    } else {
      break;
    }
  }
  Report(SERVICE_STOP_PENDING, eventLog);
  module->ServiceStop();
  module.reset();
  Report(SERVICE_STOPPED, eventLog);
}

BOOL WINAPI ConsoleCtrlHandler(DWORD) {
  g_controls.Post(SERVICE_CONTROL_STOP);
  return TRUE;
}

int RunConsole() {
  UseUtf8Console();
  SystemClock clock;
  SystemEventLog eventLog;
  ConsoleEcho echo(std::cout, clock);
  eventLog.SetEcho([&](std::string_view m) { echo.Line("event", "", m); });
  ServiceOptions options;
  options.exeDir = ExecutableDir();
  ApplySupportHostOverrides(options.endpoints);
  std::unique_ptr<TfMvxBackupMain> module;
  try {
    module = std::make_unique<TfMvxBackupMain>(clock, eventLog, options);
    module->textLog().SetEcho([&](std::string_view m) { echo.Line("log", "", m); });
    module->serviceTables().SetEcho(
        [&](std::string_view db, std::string_view m) { echo.Line("activity", db, m); });
    module->ServiceStart();
  } catch (const std::exception& e) {
    eventLog.Error(kServiceName, std::string("Service failed on start: ") + e.what());
    return 1;
  }
  SetConsoleCtrlHandler(ConsoleCtrlHandler, TRUE);
  echo.Line("service", "", "running; Ctrl+C stops");
  while (g_controls.Take() != SERVICE_CONTROL_STOP) {
  }
  module->ServiceStop();
  echo.Line("service", "", "stopped");
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

int RunServiceHost(const std::vector<std::string>& args) {
  const CommandLine command = ParseCommandLine(args);
  if (command.install || command.uninstall) return Install(command);
  if (command.console) return RunConsole();
  std::string name(kServiceName);
  SERVICE_TABLE_ENTRYA table[] = {{name.data(), ServiceMain}, {nullptr, nullptr}};
  if (!StartServiceCtrlDispatcherA(table)) {
    SystemEventLog eventLog;
    eventLog.Error(ExecutableFileName(), WinErrorText(GetLastError()));
    return 1;
  }
  return 0;
}

}  // namespace mvx
