#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

#include "db/odbc_handle.h"

namespace mvx {

// What one open gave: the connected handle, or the driver's diagnostics.
struct ConnectOutcome {
  enum class Status { Connected, Failed, TimedOut, Cut } status = Status::Failed;
  OdbcHandle connection;  // connected, for Status::Connected only
  std::vector<DiagRecord> diagnostics;
  // For Status::Cut and TimedOut: expires once the thread left with the connect is done.
  std::weak_ptr<void> leftBehind;
};

// Runs SQLDriverConnect on a thread of its own so that the caller can walk
// away: a connect that outlives `limit`, or is cut while `cut()` says so
// (once it has run half a second: a server that answers is spared), is left
// to that thread, which then disconnects and frees its handle itself.
// The thread shares the environment handle, which so outlives its use there.
// `prepare` sets the connection's attributes before the connect.
ConnectOutcome ConnectInBackground(std::shared_ptr<OdbcHandle> environment,
                                   std::vector<SQLWCHAR> connectionString,
                                   const std::function<void(SQLHDBC)>& prepare,
                                   std::chrono::milliseconds limit,
                                   const std::function<bool()>& cut);

}  // namespace mvx
