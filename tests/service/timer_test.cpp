#include "service/timer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <tuple>
#include <vector>

#include "service/log_backup_clock.h"

namespace mvx {
namespace {

using namespace std::chrono_literals;

// Waits (bounded) until the condition holds.
template <typename F>
bool Eventually(F condition, std::chrono::milliseconds limit = 5000ms) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    if (condition()) return true;
    std::this_thread::sleep_for(1ms);
  }
  return condition();
}

// The tick sleeps longer than the interval it re-arms with: a timer that
// counted from the previous due time would start the next tick at once.
TEST(Timer, ATickRunsDisarmedAndItsRearmCountsFromItsEnd) {
  using SteadyTime = std::chrono::steady_clock::time_point;
  std::mutex mutex;
  std::vector<SteadyTime> starts, ends;
  std::atomic<bool> armedDuringATick{false};
  Timer1* self = nullptr;
  Timer1 timer([&] {
    {
      std::lock_guard lock(mutex);
      starts.push_back(std::chrono::steady_clock::now());
    }
    if (self->Armed()) armedDuringATick = true;
    std::this_thread::sleep_for(20ms);
    {
      std::lock_guard lock(mutex);
      ends.push_back(std::chrono::steady_clock::now());
    }
    self->Arm(10ms);  // re-armed at the end, like the service tick
  });
  self = &timer;
  auto ticks = [&] {
    std::lock_guard lock(mutex);
    return ends.size();
  };
  timer.Open();
  timer.Arm(1ms);
  ASSERT_TRUE(Eventually([&] { return ticks() >= 3; }));
  timer.Close();
  timer.WaitIdle(10ms);
  {
    std::lock_guard lock(mutex);
    for (std::size_t i = 1; i < starts.size(); ++i) {
      EXPECT_GE(starts[i] - ends[i - 1], 10ms) << "tick " << i;
    }
  }
  EXPECT_FALSE(armedDuringATick);
  const std::size_t after = ticks();
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(ticks(), after);  // closed: a tick ending after the stop cannot re-arm it
}

TEST(Timer, SurvivesAnExceptionAndCanBeArmedAgain) {
  std::atomic<int> ticks{0};
  Timer1 timer([&] {
    ++ticks;
    throw std::runtime_error("tick failed");
  });
  timer.Open();
  timer.Arm(1ms);
  ASSERT_TRUE(Eventually([&] { return ticks == 1; }));
  timer.WaitIdle(10ms);
  timer.Arm(1ms);
  EXPECT_TRUE(Eventually([&] { return ticks == 2; }));
}

TEST(Timer, StopWaitsForARunningTick) {
  std::atomic<bool> inTick{false}, release{false}, finished{false};
  Timer1 timer([&] {
    inTick = true;
    while (!release) std::this_thread::sleep_for(1ms);
    finished = true;
  });
  timer.Open();
  timer.Arm(0ms);
  ASSERT_TRUE(Eventually([&] { return inTick.load(); }));
  timer.Close();
  std::atomic<int> pendingReports{0};
  std::thread releaser([&] {
    std::this_thread::sleep_for(50ms);
    release = true;
  });
  timer.WaitIdle(5ms, [&] { ++pendingReports; });
  EXPECT_TRUE(finished);
  EXPECT_GT(pendingReports, 0);
  releaser.join();
}

TEST(Timer, ArmBeforeOpenAndDisarmDoNothing) {
  std::atomic<int> ticks{0};
  Timer1 timer([&] { ++ticks; });
  timer.Arm(0ms);
  timer.Open();
  timer.Arm(20ms);
  timer.Disarm();
  std::this_thread::sleep_for(60ms);
  EXPECT_EQ(ticks, 0);
}

// The timer waits for the nearer work; each counts from its own end; off, the tick's interval
// is used unchanged. Steps in order: 's' start, 't' a tick ended, 'l' log backups ended.
TEST(LogBackupClock, TheTimerWaitsForTheNearerWork) {
  const std::chrono::steady_clock::time_point t0{};
  const std::tuple<char, std::chrono::milliseconds, std::chrono::milliseconds, bool> steps[] = {
      {'s', 0ms, 3000ms, true},
      {'t', 3000ms, 600000ms, true},
      {'t', 603000ms, 297000ms, false},  // the log backups are nearer
      {'l', 910000ms, 293000ms, true},   // a round that ran 10 s
      {'l', 1900000ms, 0ms, true}};      // the tick is overdue
  LogBackupClock clock, off;
  EXPECT_EQ(off.Started(t0, 3000ms, 0ms), 3000ms);
  EXPECT_EQ(off.TickEnded(t0, 600000ms), 600000ms);
  for (const auto& [work, at, wait, tickNext] : steps) {
    const auto got = work == 's'   ? clock.Started(t0 + at, 3000ms, 900000ms)
                     : work == 't' ? clock.TickEnded(t0 + at, 600000ms)
                                   : clock.LogEnded(t0 + at);
    EXPECT_EQ(got, wait) << at.count();
    EXPECT_EQ(clock.TickDue(t0 + at + wait), tickNext) << at.count();
    EXPECT_EQ(clock.LogDue(t0 + at + wait), !tickNext) << at.count();
  }
}

}  // namespace
}  // namespace mvx
