#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

#include "vendorlink/stop_slices.h"

namespace mvx {

// Runs `work` on a helper thread and waits for its answer at most `limitMs`,
// ending the wait within one slice when `stop` is set. For calls the system
// gives no way to interrupt (a name lookup, a blocking echo): a late answer is
// dropped, and the helper ends on its own, freeing what it holds. nullopt when
// the wait ended without an answer or no thread could be started.
template <typename T>
std::optional<T> CallWithBound(std::function<T()> work, int limitMs,
                               const std::atomic<bool>* stop) {
  struct Shared {
    std::mutex mutex;
    std::condition_variable done;
    std::optional<T> answer;
  };
  auto shared = std::make_shared<Shared>();
  try {
    std::thread([shared, work = std::move(work)] {
      std::optional<T> answer;
      try {
        answer = work();
      } catch (...) {
        // No answer, as for a late one.
      }
      std::lock_guard lock(shared->mutex);
      shared->answer = std::move(answer);
      shared->done.notify_all();
    }).detach();
  } catch (const std::system_error&) {
    return std::nullopt;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  std::unique_lock lock(shared->mutex);
  while (!shared->answer && !StopRequested(stop)) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) break;
    shared->done.wait_for(lock, std::min<std::chrono::steady_clock::duration>(
                                    deadline - now, std::chrono::milliseconds(kStopSliceMs)));
  }
  return std::move(shared->answer);
}

}  // namespace mvx
