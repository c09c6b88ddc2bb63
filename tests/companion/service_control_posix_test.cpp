// The systemd backend of the service-control routines against the scripted systemctl.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "companion/service_control.h"
#include "support/temp_dir.h"

namespace mvx {
namespace {

using namespace std::chrono_literals;
using std::chrono::milliseconds;

// The calls the scripted systemctl records, a line each.
const std::string kShow =
    "show -p LoadState -p ActiveState -p SubState -p FreezerState RidOdadezMain\n";
const std::string kStart = "start --no-block RidOdadezMain\n";
const std::string kThaw = "thaw RidOdadezMain\n";

// Time passes only while the routine sleeps; a stop comes at a set time.
struct StepClock final : WaitClock {
  milliseconds Elapsed() override { return now; }
  void Sleep(milliseconds duration) override { stop = (now += duration) >= stopAt; }
  milliseconds now{5000}, stopAt = milliseconds::max();
  std::atomic<bool> stop{false};
};

class SystemdControl : public ::testing::Test {
 protected:
  SystemdControl() {
    setenv("MVX_SCRIPTED_SYSTEMCTL_STATE", dir.file("state").c_str(), 1);
    setenv("MVX_SYSTEMD_UNIT_DIR", units.path().c_str(), 1);
  }
  ~SystemdControl() override {
    unsetenv("MVX_SCRIPTED_SYSTEMCTL_STATE");
    unsetenv("MVX_SYSTEMD_UNIT_DIR");
  }
  SystemServiceControl Control(const std::string& systemctl = MVX_SCRIPTED_SYSTEMCTL,
                               TextLog* textLog = nullptr) {
    return SystemServiceControl(textLog != nullptr ? *textLog : log, clock.stop,
                                {systemctl, units.path().string()}, &clock);
  }
  void State(const std::string& lines) {
    dir.write("state", lines);
    dir.write("state.calls", "");
  }
  std::string Recorded() const { return dir.read("state.calls"); }

  testing::TempDir dir, units;
  ManualClock wallClock{LocalDateTime::Make(2026, 3, 6, 14, 0)};
  TextLog log{dir.dir(), wallClock};
  StepClock clock;
};

TEST_F(SystemdControl, StateOfTheUnit) {
  const std::pair<std::string, int> cases[] = {
      {"LoadState=not-found\nActiveState=inactive\n", -1},
      {"LoadState=loaded\nActiveState=active\nFreezerState=running\n", 0},
      {"LoadState=loaded\nActiveState=inactive\n", 1},
      {"LoadState=loaded\nActiveState=failed\n", 1},
      {"LoadState=loaded\nActiveState=active\nFreezerState=frozen\n", 2},
      {"LoadState=loaded\nActiveState=activating\n", 3},
      {"LoadState=loaded\nActiveState=deactivating\n", 4},
      {"LoadState=loaded\nActiveState=reloading\n", 5},
      {"LoadState=loaded\nActiveState=active\nFreezerState=thawing\n", 5},
      {"LoadState=loaded\nActiveState=active\nFreezerState=freezing\n", 6},
      {"LoadState=loaded\nActiveState=maintenance\n", -3},
      {"ShowExit=1\nShowError=Failed to connect to bus: No such file or directory\n", -2},
      {"ShowExit=1\nShowError=Unit RidOdadezMain.service not found.\n", -1},
      {"LoadState=loaded\n", -4},
      // Output past what is read is not read as a state, whatever its first lines say.
      {"LoadState=loaded\nActiveState=active\nSubState=" + std::string(70000, 'x') + "\n", -4},
  };
  for (const auto& [state, expected] : cases) {
    State(state);
    EXPECT_EQ(Control().QueryServiceState("RidOdadezMain"), expected) << state.substr(0, 80);
    EXPECT_EQ(Recorded(), kShow) << state.substr(0, 80);
  }
  // A name that is not a unit name never reaches systemctl; a missing systemctl is no manager.
  State("LoadState=loaded\nActiveState=active\n");
  EXPECT_EQ(Control().QueryServiceState("--all"), -1);
  EXPECT_TRUE(Recorded().empty());
  EXPECT_EQ(Control(dir.file("none")).QueryServiceState("RidOdadezMain"), -2);

  // When the unit last became active, as seconds since 1970.
  const std::pair<std::string, std::optional<long long>> started[] = {
      {"ActiveEnterTimestamp=@1710489600", 1710489600},
      {"ActiveEnterTimestamp=", std::nullopt},  // never active
      {"ActiveEnterTimestamp=@0", std::nullopt},
      {"ActiveEnterTimestamp=Fri 2024-03-15 08:00:00 UTC", std::nullopt},
      {"ShowExit=1\nShowError=Failed to connect to bus", std::nullopt},
  };
  for (const auto& [state, expected] : started) {
    State("LoadState=loaded\nActiveState=active\n" + state + "\n");
    EXPECT_EQ(Control().ServiceStartedAt("fMvxBackupMain"), expected) << state;
    EXPECT_EQ(Recorded(), "show --timestamp=unix -p ActiveEnterTimestamp fMvxBackupMain\n");
  }
}

TEST_F(SystemdControl, InstallWritesEnablesAndLogsTheResult) {
  const std::string image = dir.file("Mvx_RidOdadez.exe");
  dir.write("Mvx_RidOdadez.exe", "program");
  State("LoadState=not-found\n");
  ASSERT_EQ(Control().InstallService("RidOdadezMain", "Morvex SetRazuRarevi", image), 0);
  EXPECT_EQ(units.read("RidOdadezMain.service"),
            "[Unit]\nDescription=Morvex SetRazuRarevi\n\n[Service]\nType=simple\nExecStart=\"" +
                image + "\"\nUser=root\n\n[Install]\nWantedBy=multi-user.target\n");
  struct stat info {};
  stat(image.c_str(), &info);
  EXPECT_EQ(info.st_mode & 0777, 0755u);
  EXPECT_EQ(Recorded(), "daemon-reload\nenable RidOdadezMain\n");
  EXPECT_EQ(log.LastFileLogText(), "0");
  EXPECT_EQ(Control().QueryServiceState("RidOdadezMain"), 1);  // loaded and stopped

  // Exists already; an empty argument; no systemctl; a two-line name; no image; enable refused.
  const std::string scripted = MVX_SCRIPTED_SYSTEMCTL;
  const std::tuple<std::string, std::string, std::string, std::string, std::string, int> cases[] = {
      {"RidOdadezMain", "Morvex SetRazuRarevi", image, scripted, "", 3},
      {"Other", "", image, scripted, "", 1},
      {"Other", "Other", image, dir.file("none"), "", 2},
      {"Other", "Two\nlines", image, scripted, "", 3},
      {"Other", "Other", dir.file("none.exe"), scripted, "", 3},
      {"Other", "Other", image, scripted, "EnableExit=1\n", 3},
  };
  for (const auto& [name, display, path, systemctl, state, expected] : cases) {
    State("LoadState=not-found\n" + state);
    log.ClearLastFileLogText();
    EXPECT_EQ(Control(systemctl).InstallService(name, display, path), expected) << display;
    EXPECT_EQ(log.LastFileLogText(), expected == 3 ? "3" : "") << display;  // only 0 and 3
    // The failed enable takes its unit file away again and has systemd forget it.
    EXPECT_EQ(Recorded(), state.empty() ? "" : "daemon-reload\nenable Other\ndaemon-reload\n")
        << display;
    EXPECT_FALSE(units.exists("Other.service")) << display;
  }
  EXPECT_TRUE(units.exists("RidOdadezMain.service"));
  // A stop during the reload: undone as well, and no result line since none is known.
  State("LoadState=not-found\n");
  log.ClearLastFileLogText();
  clock.stop = true;
  EXPECT_EQ(Control().InstallService("Other", "Other", image), 3);
  clock.stop = false;
  EXPECT_FALSE(units.exists("Other.service"));
  EXPECT_EQ(log.LastFileLogText(), "");
  EXPECT_TRUE(Recorded().ends_with("daemon-reload\n"));
  // A text log that refuses the result line: the unit is there, the caller hears of the log.
  State("LoadState=not-found\n");
  TextLog refusing{dir.file("missing") + "/", wallClock};
  EXPECT_THROW(Control(MVX_SCRIPTED_SYSTEMCTL, &refusing).InstallService("Third", "Third", image),
               std::runtime_error);
  EXPECT_TRUE(units.exists("Third.service"));
}

TEST_F(SystemdControl, StartOrResumeAndWait) {
  const std::string loaded = "LoadState=loaded\n";
  const std::tuple<std::string, int, std::string> cases[] = {
      {"ActiveState=inactive\nOnStart=activating,active\n", 0, kShow + kStart + kShow + kShow},
      {"ActiveState=failed\nOnStart=refuse\n", 1, kShow + kStart},
      {"ActiveState=active\nFreezerState=frozen\nOnThaw=thawing,running\n", 0,
       kShow + kThaw + kShow + kShow},
      {"ActiveState=active\nFreezerState=frozen\nOnThaw=refuse\n", 1, kShow + kThaw},
      {"ActiveState=activating\n", 2, kShow},
      {"ActiveState=deactivating\n", 2, kShow},
      {"ActiveState=active\n", 0, kShow},
      {"ActiveState=inactive\nOnStart=activating,odd,active\n", 0,
       kShow + kStart + kShow + kShow + kShow},
      {"ActiveState=inactive\nOnStart=activating,ShowExit=1\n", -4, kShow + kStart + kShow + kShow},
  };
  for (const auto& [state, expected, calls] : cases) {
    State(loaded + state);
    EXPECT_EQ(Control().StartServiceAndWait("RidOdadezMain"), expected) << state;
    EXPECT_EQ(Recorded(), calls) << state;
  }
  State("LoadState=not-found\n");
  EXPECT_EQ(Control().StartServiceAndWait("RidOdadezMain"), -1);
}

TEST_F(SystemdControl, WaitEndsAfterThirtySecondsOrWithinASecondOfAStop) {
  State("LoadState=loaded\nActiveState=inactive\nOnStart=activating\n");
  const milliseconds begin = clock.now;
  EXPECT_EQ(Control().StartServiceAndWait("RidOdadezMain"), 1);
  EXPECT_GT(clock.now - begin, 30000ms);
  EXPECT_LE(clock.now - begin, 31000ms);
  const std::string calls = Recorded();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), '\n'), 2 + 31);  // a poll every second

  // A stop in the middle of a pause, and one at its end, just before the poll it cuts short.
  for (const milliseconds stopAfter : {2500ms, 2000ms}) {
    State("LoadState=loaded\nActiveState=inactive\nOnStart=activating\n");
    clock.stop = false;
    clock.stopAt = clock.now + stopAfter;
    EXPECT_EQ(Control().StartServiceAndWait("RidOdadezMain"), 1) << stopAfter.count();
    EXPECT_LE(clock.now - clock.stopAt, 1000ms) << stopAfter.count();
  }
}

// The pause before each poll is a tenth of the last known wait hint, 1000 to 10000 ms.
TEST(ServiceWait, PausesATenthOfTheLastWaitHint) {
  StepClock clock;
  const ServiceStatusReading answers[] = {{3, 50000ms}, {3, 200000ms}, {3, 0ms}, {0, 0ms}};
  std::vector<milliseconds> polledAt;
  const milliseconds begin = clock.now;
  EXPECT_EQ(WaitUntilRunning(
                {1, 3000ms},
                [&]() -> std::optional<ServiceStatusReading> {
                  polledAt.push_back(clock.now - begin);
                  return answers[std::min(polledAt.size(), std::size(answers)) - 1];
                },
                clock, clock.stop),
            0);
  EXPECT_EQ(polledAt, (std::vector<milliseconds>{1000ms, 6000ms, 16000ms, 17000ms}));
}

}  // namespace
}  // namespace mvx
