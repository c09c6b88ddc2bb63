#include "service/timer.h"

namespace mvx {

Timer1::Timer1(std::function<void()> onTick) : onTick_(std::move(onTick)) {
  thread_ = std::thread([this] { Run(); });
}

Timer1::~Timer1() {
  {
    std::lock_guard lock(mutex_);
    shutdown_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void Timer1::Arm(std::chrono::milliseconds interval) {
  {
    std::lock_guard lock(mutex_);
    if (!open_) return;
    armed_ = true;
    lastInterval_ = interval;
    due_ = std::chrono::steady_clock::now() + interval;
  }
  changed_.notify_all();
}

std::chrono::milliseconds Timer1::LastInterval() const {
  std::lock_guard lock(mutex_);
  return lastInterval_;
}

void Timer1::Disarm() {
  std::lock_guard lock(mutex_);
  armed_ = false;
}

bool Timer1::Armed() const {
  std::lock_guard lock(mutex_);
  return armed_;
}

void Timer1::Open() {
  std::lock_guard lock(mutex_);
  open_ = true;
}

void Timer1::Close() {
  std::lock_guard lock(mutex_);
  open_ = false;
  armed_ = false;
}

bool Timer1::TickRunning() const {
  std::lock_guard lock(mutex_);
  return running_;
}

void Timer1::WaitIdle(std::chrono::milliseconds step, const std::function<void()>& waiting) {
  std::unique_lock lock(mutex_);
  while (running_) {
    if (changed_.wait_for(lock, step, [this] { return !running_; })) break;
    if (waiting) {
      lock.unlock();
      waiting();
      lock.lock();
    }
  }
}

bool Timer1::WaitIdleUntil(std::chrono::steady_clock::time_point deadline,
                           const std::function<bool()>& wake) {
  std::unique_lock lock(mutex_);
  changed_.wait_until(lock, deadline, [&] { return !running_ || wake(); });
  return !running_;
}

void Timer1::Nudge() {
  { std::lock_guard lock(mutex_); }  // a waiter between its check and its sleep sees the change
  changed_.notify_all();
}

void Timer1::Run() {
  std::unique_lock lock(mutex_);
  while (!shutdown_) {
    if (!armed_) {
      changed_.wait(lock, [this] { return shutdown_ || armed_; });
      continue;
    }
    // Arm() may move the deadline while we wait, so wake on every change.
    if (changed_.wait_until(
            lock, due_,
            [this] { return shutdown_ || !armed_ || std::chrono::steady_clock::now() >= due_; }) &&
        !shutdown_ && armed_) {
      armed_ = false;
      running_ = true;
      lock.unlock();
      try {
        onTick_();
      } catch (...) {
        // The tick reports its own failures; the timer thread must survive anything.
      }
      lock.lock();
      running_ = false;
      changed_.notify_all();
    }
  }
}

}  // namespace mvx
