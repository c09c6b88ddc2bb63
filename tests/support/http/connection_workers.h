#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <list>
#include <thread>

namespace mvx::testing {

// The threads of a loopback server, one per connection. Finished ones are
// joined whenever a new one starts, so a long run of connections never hits
// the limit; the rest are joined at the end.
class ConnectionWorkers {
 public:
  ConnectionWorkers() = default;
  ~ConnectionWorkers() { JoinAll(); }
  ConnectionWorkers(const ConnectionWorkers&) = delete;
  ConnectionWorkers& operator=(const ConnectionWorkers&) = delete;

  // Runs `serve` on a thread of its own; false (and nothing runs) while
  // `limit` threads are still serving.
  bool Start(std::size_t limit, std::function<void()> serve) {
    Reap();
    if (workers_.size() >= limit) return false;
    Worker& worker = workers_.emplace_back();
    try {
      worker.thread = std::thread([&done = worker.done, serve = std::move(serve)] {
        serve();
        done = true;
      });
    } catch (...) {
      workers_.pop_back();
      throw;
    }
    return true;
  }

  void JoinAll() {
    for (Worker& worker : workers_) {
      if (worker.thread.joinable()) worker.thread.join();
    }
    workers_.clear();
  }

 private:
  struct Worker {
    std::thread thread;
    std::atomic<bool> done{false};
  };

  void Reap() {
    for (auto it = workers_.begin(); it != workers_.end();) {
      if (!it->done) {
        ++it;
        continue;
      }
      it->thread.join();
      it = workers_.erase(it);
    }
  }

  std::list<Worker> workers_;
};

}  // namespace mvx::testing
