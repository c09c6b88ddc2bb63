#include "service/heartbeat.h"

#include <system_error>
#include <utility>

namespace mvx {

Heartbeat::Heartbeat(std::function<void()> beat, std::chrono::milliseconds every) {
  if (!beat) return;
  try {
    thread_ = std::thread([this, beat = std::move(beat), every] {
      std::unique_lock lock(mutex_);
      while (!done_.wait_for(lock, every, [this] { return finished_; })) {
        lock.unlock();
        beat();
        lock.lock();
      }
    });
  } catch (const std::system_error&) {
    // No thread to spare: the work runs without its heartbeat.
  }
}

Heartbeat::~Heartbeat() {
  if (!thread_.joinable()) return;
  {
    const std::lock_guard lock(mutex_);
    finished_ = true;
  }
  done_.notify_all();
  thread_.join();
}

}  // namespace mvx
