#include "service/stop_canceller.h"

#include <condition_variable>
#include <mutex>
#include <optional>
#include <system_error>
#include <utility>

namespace mvx {

struct StopCanceller::State {
  std::mutex mutex;
  std::condition_variable changed;
  std::optional<std::chrono::milliseconds> request;
  bool finish = false;
};

StopCanceller::StopCanceller(SqlConnection& connection)
    : connection_(connection), state_(std::make_shared<State>()) {
  try {
    thread_ = std::thread([state = state_, &connection] {
      std::unique_lock lock(state->mutex);
      for (;;) {
        state->changed.wait(lock, [&] { return state->finish || state->request; });
        if (!state->request) return;
        const std::chrono::milliseconds minAge = *std::exchange(state->request, std::nullopt);
        lock.unlock();
        connection.CancelRunningStatement(minAge);
        lock.lock();
      }
    });
  } catch (const std::system_error&) {
    // No thread to spare: Request() cancels on the caller's thread.
  }
}

StopCanceller::~StopCanceller() { Finish(); }

void StopCanceller::Request(std::chrono::milliseconds minAge) {
  if (!thread_.joinable()) {
    connection_.CancelRunningStatement(minAge);
    return;
  }
  {
    std::lock_guard lock(state_->mutex);
    state_->request = minAge;
  }
  state_->changed.notify_all();
}

void StopCanceller::Finish() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard lock(state_->mutex);
    state_->finish = true;
    state_->request.reset();
  }
  state_->changed.notify_all();
  thread_.join();
}

void StopCanceller::Abandon() {
  if (thread_.joinable()) thread_.detach();
}

}  // namespace mvx
