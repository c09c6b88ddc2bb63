#pragma once

#include <chrono>
#include <memory>
#include <thread>

#include "db/sql_connection.h"

namespace mvx {

// Sends a stop's cancels from a thread of its own: SQLCancel may block inside
// the driver, and the thread that keeps the stop's deadlines must never wait
// there.
class StopCanceller {
 public:
  explicit StopCanceller(SqlConnection& connection);
  // Finishes, unless abandoned.
  ~StopCanceller();
  StopCanceller(const StopCanceller&) = delete;
  StopCanceller& operator=(const StopCanceller&) = delete;

  // Asks for a cancel of the statement running now, unless younger than
  // `minAge`; returns at once. A request still waiting is replaced.
  void Request(std::chrono::milliseconds minAge);
  // Ends the thread once its cancel under way has returned. Only when the
  // work that ran statements has ended, so no cancel can be stuck.
  void Finish();
  // The stop gives up: the thread, perhaps stuck in the driver, is left to
  // the end of the process, which must come without freeing the connection.
  void Abandon();

 private:
  struct State;
  SqlConnection& connection_;
  std::shared_ptr<State> state_;
  std::thread thread_;
};

}  // namespace mvx
