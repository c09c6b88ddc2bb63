#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace mvx {

// Timer1: a one-shot timer with its own thread. A tick runs with the timer
// disarmed and re-arms it at its end, so ticks never overlap and the interval
// counts from the end of a tick. Close() disarms for good (until Open()), so a
// tick that ends after a stop cannot bring the timer back.
class Timer1 {
 public:
  explicit Timer1(std::function<void()> onTick);
  ~Timer1();
  Timer1(const Timer1&) = delete;
  Timer1& operator=(const Timer1&) = delete;

  // Fires once, the given time from now (unless closed or disarmed before).
  void Arm(std::chrono::milliseconds interval);
  void Disarm();
  bool Armed() const;
  // The interval of the latest Arm() that took effect.
  std::chrono::milliseconds LastInterval() const;

  void Open();
  void Close();
  // Waits until no tick is running; calls `waiting` about every `step` while it waits.
  void WaitIdle(std::chrono::milliseconds step = std::chrono::milliseconds(1000),
                const std::function<void()>& waiting = {});
  // Waits until no tick runs, `wake()` says so (checked at every Nudge()) or
  // the deadline passes; true when no tick runs.
  bool WaitIdleUntil(std::chrono::steady_clock::time_point deadline,
                     const std::function<bool()>& wake);
  // Makes a waiter look at its wake condition again. Any thread.
  void Nudge();
  bool TickRunning() const;

 private:
  void Run();

  std::function<void()> onTick_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool armed_ = false;
  bool open_ = false;
  bool running_ = false;
  bool shutdown_ = false;
  std::chrono::steady_clock::time_point due_{};
  std::chrono::milliseconds lastInterval_{0};
  std::thread thread_;
};

}  // namespace mvx
