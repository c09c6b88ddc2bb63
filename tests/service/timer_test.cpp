#include "service/timer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

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

TEST(Timer, TicksNeverOverlapAndRearmFromTheEndOfATick) {
  std::atomic<int> running{0}, maxRunning{0}, ticks{0};
  Timer1* self = nullptr;
  Timer1 timer([&] {
    const int now = ++running;
    maxRunning = std::max(maxRunning.load(), now);
    std::this_thread::sleep_for(5ms);
    ++ticks;
    --running;
    self->Arm(1ms);  // re-armed at the end, like the service tick
  });
  self = &timer;
  timer.Open();
  timer.Arm(1ms);
  ASSERT_TRUE(Eventually([&] { return ticks >= 5; }));
  timer.Close();
  timer.WaitIdle(10ms);
  EXPECT_EQ(maxRunning, 1);
  const int after = ticks;
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(ticks, after);  // closed: a tick ending after the stop cannot re-arm it
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

}  // namespace
}  // namespace mvx
