// The Windows routines against the real service manager (Wine's in the Wine stage), driving
// the tiny stand-in service built beside this test.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <random>

#include "common/clock.h"
#include "common/win_text.h"
#include "companion/service_control.h"
#include "support/temp_dir.h"

namespace mvx {
namespace {

std::filesystem::path StandInService() {
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  return std::filesystem::path(std::wstring(path, length)).parent_path() / L"MvxTestService.exe";
}

// Sends a control straight to the service manager, as an administrator's tool would.
bool Control(const std::string& name, DWORD control) {
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (manager == nullptr) return false;
  SC_HANDLE service = OpenServiceW(manager, WideFromUtf8(name).c_str(), SERVICE_ALL_ACCESS);
  bool ok = false;
  if (service != nullptr) {
    SERVICE_STATUS status{};
    ok = control == DELETE ? DeleteService(service) != 0
                           : ControlService(service, control, &status) != 0;
    CloseServiceHandle(service);
  }
  CloseServiceHandle(manager);
  return ok;
}

// Leaves no service behind, whatever the test did.
struct RemoveAtEnd {
  ~RemoveAtEnd() {
    Control(name, SERVICE_CONTROL_STOP);
    for (int i = 0; i < 100 && control.QueryServiceState(name) != kServiceStopped; ++i) Sleep(100);
    Control(name, DELETE);
    std::error_code ignored;
    std::filesystem::remove(StandInService().wstring() + L".events", ignored);
  }
  std::string name;
  ServiceControl& control;
};

TEST(WindowsServiceControl, InstallQueryStartAndResumeThroughTheServiceManager) {
  testing::TempDir dir;
  SystemClock clock;
  TextLog log(dir.dir(), clock);
  std::atomic<bool> stop{false};
  SystemServiceControl control(log, stop);
  const std::string name = "MvxStandIn" + std::to_string(std::random_device()() % 100000);
  const std::string image = Utf8FromWide(StandInService().wstring());
  RemoveAtEnd cleanup{name, control};

  EXPECT_EQ(control.QueryServiceState(name), kServiceNotOpened);
  EXPECT_EQ(control.StartServiceAndWait(name), kServiceNotOpened);
  EXPECT_EQ(control.InstallService("", "대역 서비스", image), kInstallEmptyArgument);
  struct Install {
    int result;
    const char* logged;
  };
  for (const Install& expected : {Install{kInstallCreated, "0"}, Install{kInstallRefused, "3"}}) {
    log.ClearLastFileLogText();
    EXPECT_EQ(control.InstallService(name, "대역 서비스", image), expected.result);
    EXPECT_EQ(log.LastFileLogText(), expected.logged);
  }
  EXPECT_EQ(control.QueryServiceState(name), kServiceStopped);
  EXPECT_EQ(control.StartServiceAndWait(name), kStartRunning);
  EXPECT_EQ(control.QueryServiceState(name), kServiceRunning);
  EXPECT_EQ(control.StartServiceAndWait(name), kServiceRunning);  // already running: as it is

  ASSERT_TRUE(Control(name, SERVICE_CONTROL_PAUSE));
  for (int i = 0; i < 100 && control.QueryServiceState(name) != kServicePaused; ++i) Sleep(100);
  EXPECT_EQ(control.QueryServiceState(name), kServicePaused);
  EXPECT_EQ(control.StartServiceAndWait(name), kStartRunning);  // a paused service is resumed
  EXPECT_EQ(control.QueryServiceState(name), kServiceRunning);
}

}  // namespace
}  // namespace mvx
