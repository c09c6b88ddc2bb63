// The systemd backend of the service-control routines against the scripted systemctl.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstdlib>

#include "common/clock.h"
#include "common/text_log.h"
#include "companion/service_control.h"
#include "support/temp_dir.h"

namespace mvx {
namespace {

using namespace std::chrono_literals;
using std::chrono::milliseconds;
using testing::TempDir;

const char kShow[] = "show -p LoadState -p ActiveState -p SubState -p FreezerState RidOdadezMain";

// Time passes only when the routine sleeps; a stop may be requested at a set time.
class StepClock final : public WaitClock {
 public:
  explicit StepClock(std::atomic<bool>& stop) : stop_(stop) {}
  milliseconds Elapsed() override { return now; }
  void Sleep(milliseconds duration) override {
    now += duration;
    if (stopAt && now >= *stopAt) stop_ = true;
  }
  milliseconds now{5000};
  std::optional<milliseconds> stopAt;

 private:
  std::atomic<bool>& stop_;
};

class SystemdControl : public ::testing::Test {
 protected:
  SystemdControl() : log(dir.dir(), wallClock), control(MakeControl(MVX_SCRIPTED_SYSTEMCTL)) {
    setenv("MVX_SCRIPTED_SYSTEMCTL_STATE", dir.file("state").c_str(), 1);
    setenv("MVX_SYSTEMD_UNIT_DIR", units.path().c_str(), 1);
  }
  ~SystemdControl() override {
    unsetenv("MVX_SCRIPTED_SYSTEMCTL_STATE");
    unsetenv("MVX_SYSTEMD_UNIT_DIR");
  }
  SystemServiceControl MakeControl(const std::string& systemctl) {
    return SystemServiceControl(log, stop, {systemctl, units.path().string()}, &clock);
  }
  void State(const std::string& lines) {
    dir.write("state", lines);
    dir.write("state.calls", "");
  }
  std::vector<std::string> Calls() {
    std::vector<std::string> calls;
    std::istringstream in(dir.read("state.calls"));
    for (std::string line; std::getline(in, line);) calls.push_back(line);
    return calls;
  }

  TempDir dir;
  TempDir units;
  ManualClock wallClock{LocalDateTime::Make(2026, 3, 6, 14, 0)};
  TextLog log;
  std::atomic<bool> stop{false};
  StepClock clock{stop};
  SystemServiceControl control;
};

TEST_F(SystemdControl, StateOfTheUnit) {
  struct Case {
    std::string state;
    int expected;
  };
  const Case cases[] = {
      {"LoadState=not-found\nActiveState=inactive\n", -1},
      {"ActiveState=active\nLoadState=loaded\nSubState=running\nFreezerState=running\n", 0},
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
      {"ShowOutput=Garbage without properties\n", -4},
      {"LoadState=loaded\n", -4},
  };
  for (const Case& c : cases) {
    State(c.state);
    EXPECT_EQ(control.QueryServiceState("RidOdadezMain"), c.expected) << c.state;
    EXPECT_EQ(Calls(), std::vector<std::string>{kShow}) << c.state;
  }
  // Names that are not unit names never reach systemctl, and a missing systemctl is no manager.
  State("LoadState=loaded\nActiveState=active\n");
  EXPECT_EQ(control.QueryServiceState("--all"), -1);
  EXPECT_EQ(control.QueryServiceState("a b"), -1);
  EXPECT_TRUE(Calls().empty());
  EXPECT_EQ(MakeControl(dir.file("no-systemctl")).QueryServiceState("RidOdadezMain"), -2);
}

TEST_F(SystemdControl, InstallWritesEnablesAndLogsTheResult) {
  const std::string image = dir.file("Mvx_RidOdadez.exe");
  dir.write("Mvx_RidOdadez.exe", "program");
  chmod(image.c_str(), 0600);
  State("LoadState=not-found\n");
  ASSERT_EQ(control.InstallService("RidOdadezMain", "Morvex SetRazuRarevi", image), 0);
  EXPECT_EQ(units.read("RidOdadezMain.service"),
            "[Unit]\nDescription=Morvex SetRazuRarevi\n\n[Service]\nType=simple\nExecStart=\"" +
                image + "\"\nUser=root\n\n[Install]\nWantedBy=multi-user.target\n");
  struct stat info {};
  stat(image.c_str(), &info);
  EXPECT_EQ(info.st_mode & 0777, 0755u);
  EXPECT_EQ(Calls(), (std::vector<std::string>{"daemon-reload", "enable RidOdadezMain"}));
  EXPECT_EQ(log.LastFileLogText(), "0");
  EXPECT_EQ(control.QueryServiceState("RidOdadezMain"), 1);  // loaded and stopped

  struct Case {
    std::string name, display, image, systemctl;
    int expected;
    std::string logged;  // the text log's last line afterwards
  };
  const std::string scripted = MVX_SCRIPTED_SYSTEMCTL;
  const Case cases[] = {
      {"RidOdadezMain", "Morvex SetRazuRarevi", image, scripted, 3, "3"},  // exists already
      {"Other", "", image, scripted, 1, "3"},
      {"Other", "Other", image, dir.file("no-systemctl"), 2, "3"},
      {"Other", "Two\nlines", image, scripted, 3, "3"},
      {"Other", "Other", dir.file("missing.exe"), scripted, 3, "3"},
  };
  for (const Case& c : cases) {
    State("LoadState=not-found\n");
    EXPECT_EQ(MakeControl(c.systemctl).InstallService(c.name, c.display, c.image), c.expected)
        << c.display;
    EXPECT_EQ(log.LastFileLogText(), c.logged);
    EXPECT_TRUE(Calls().empty());
  }
  EXPECT_FALSE(units.exists("Other.service"));
  // A refused enable counts as a refused creation.
  State("LoadState=not-found\nEnableExit=1\n");
  log.ClearLastFileLogText();
  EXPECT_EQ(control.InstallService("Third", "Third", image), 3);
  EXPECT_EQ(log.LastFileLogText(), "3");
}

TEST_F(SystemdControl, StartOrResumeAndWait) {
  struct Case {
    std::string state;
    int expected;
    std::vector<std::string> calls;
  };
  const Case cases[] = {
      {"LoadState=loaded\nActiveState=inactive\nOnStart=activating,active\n",
       0,
       {kShow, "start --no-block RidOdadezMain", kShow, kShow}},
      {"LoadState=loaded\nActiveState=failed\nOnStart=refuse\n",
       1,
       {kShow, "start --no-block RidOdadezMain"}},
      {"LoadState=loaded\nActiveState=active\nFreezerState=frozen\nOnThaw=thawing,running\n",
       0,
       {kShow, "thaw RidOdadezMain", kShow, kShow}},
      {"LoadState=loaded\nActiveState=active\nFreezerState=frozen\nOnThaw=refuse\n",
       1,
       {kShow, "thaw RidOdadezMain"}},
      {"LoadState=loaded\nActiveState=activating\n", 2, {kShow}},
      {"LoadState=loaded\nActiveState=deactivating\n", 2, {kShow}},
      {"LoadState=loaded\nActiveState=active\n", 0, {kShow}},
      {"LoadState=not-found\n", -1, {kShow}},
      {"LoadState=loaded\nActiveState=inactive\nOnStart=activating,maintenance,active\n",
       0,
       {kShow, "start --no-block RidOdadezMain", kShow, kShow, kShow}},
      {"LoadState=loaded\nActiveState=inactive\nOnStart=activating,ShowExit=1\n",
       -4,
       {kShow, "start --no-block RidOdadezMain", kShow, kShow}},
  };
  for (const Case& c : cases) {
    State(c.state);
    EXPECT_EQ(control.StartServiceAndWait("RidOdadezMain"), c.expected) << c.state;
    EXPECT_EQ(Calls(), c.calls) << c.state;
  }
}

TEST_F(SystemdControl, WaitEndsAfterThirtySecondsOrOnAStop) {
  State("LoadState=loaded\nActiveState=inactive\nOnStart=activating\n");
  const milliseconds begin = clock.now;
  EXPECT_EQ(control.StartServiceAndWait("RidOdadezMain"), 1);
  // Polls every second until more than 30 s have passed.
  EXPECT_GT(clock.now - begin, 30000ms);
  EXPECT_LE(clock.now - begin, 31000ms);
  EXPECT_EQ(Calls().size(), 2u + 31u);

  State("LoadState=loaded\nActiveState=inactive\nOnStart=activating\n");
  clock.stopAt = clock.now + 2500ms;
  const milliseconds stopAt = *clock.stopAt;
  EXPECT_EQ(control.StartServiceAndWait("RidOdadezMain"), 1);
  EXPECT_LE(clock.now - stopAt, 1000ms);
}

}  // namespace
}  // namespace mvx
