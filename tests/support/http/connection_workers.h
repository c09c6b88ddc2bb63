#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <list>
#include <thread>

namespace mvx::testing {

// How often a loopback server looks up from a wait, and how many connections it serves at once.
inline constexpr int kSliceMs = 20;
inline constexpr std::size_t kMaxConnections = 64;

// The threads of a loopback server, one per connection. Finished ones are joined whenever a new
// one starts, so a long run of connections never hits the limit; the rest are joined at the end.
class ConnectionWorkers {
 public:
  ~ConnectionWorkers() { JoinAll(); }

  // Runs `serve` on a thread of its own; false (and nothing runs) while `limit` threads serve.
  bool Start(std::size_t limit, std::function<void()> serve) {
    workers_.remove_if([](Worker& worker) {
      const bool done = worker.done;  // read once: a thread that ends meanwhile waits its turn
      if (done) worker.thread.join();
      return done;
    });
    if (workers_.size() >= limit) return false;
    Worker& worker = workers_.emplace_back();
    worker.thread = std::thread([&done = worker.done, serve = std::move(serve)] {
      serve();
      done = true;
    });
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
  std::list<Worker> workers_;
};

}  // namespace mvx::testing
