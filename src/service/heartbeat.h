#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace mvx {

// Calls `beat` about every `every` on a thread of its own while it lives, so a
// service manager sees the work go on while this thread waits elsewhere (in
// the driver, for one). Without a thread to spare it beats never.
class Heartbeat {
 public:
  Heartbeat(std::function<void()> beat, std::chrono::milliseconds every);
  ~Heartbeat();
  Heartbeat(const Heartbeat&) = delete;
  Heartbeat& operator=(const Heartbeat&) = delete;

 private:
  std::mutex mutex_;
  std::condition_variable done_;
  bool finished_ = false;
  std::thread thread_;
};

}  // namespace mvx
