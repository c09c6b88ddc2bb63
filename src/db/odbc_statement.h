#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "db/odbc_handle.h"

namespace mvx {

using SqlRow = std::vector<std::optional<std::string>>;

// Everything one batch produced, after all of its results were drained.
struct StatementRun {
  bool failed = false;
  bool connectionLost = false;
  std::vector<DiagRecord> errors;
  std::vector<std::string> messages;  // informational messages, in arrival order
  long long rowCount = -1;            // the first count the driver reported
  bool hasResultSet = false;
  std::vector<std::string> columns;  // of the first result set
  std::vector<SqlRow> rows;

  std::string ErrorText() const;
  int ErrorNumber() const;
};

// What the rows of one result may take in memory (cells with their
// bookkeeping). The service reads a row or a few; the bound turns a hostile
// table of millions of rows into a failed statement instead of exhausting
// the host's memory.
inline constexpr std::size_t kDefaultResultByteLimit = std::size_t{64} * 1024 * 1024;

// The statement a connection is running, so that another thread (a service
// stop) can cancel it. SQLCancel may block inside the driver, so no lock is
// held across it; instead End() waits until every cancel under way has
// returned, and only then may the handle be freed.
class RunningStatement {
 public:
  // A statement that is not `cancellable` runs on a bound of its own.
  void Begin(SQLHSTMT statement, bool cancellable = true);
  // True when a cancel was sent to the statement since Begin().
  bool End();
  // Sends SQLCancel to the running statement unless it has run for less than
  // `minAge`; true when one was sent.
  bool Cancel(std::chrono::milliseconds minAge);

 private:
  std::mutex mutex_;
  std::condition_variable cancelReturned_;
  SQLHSTMT statement_ = SQL_NULL_HSTMT;
  std::chrono::steady_clock::time_point since_{};
  bool cancelled_ = false;
  bool cancellable_ = true;
  int cancelsUnderWay_ = 0;
};

// Runs one batch on its own statement handle and drains every result with
// SQLMoreResults until the driver reports no more: a BACKUP's error may come
// only after its progress messages, and a statement closed early is
// cancelled. With `collectRows` the first result set is read into memory;
// a result larger than `resultByteLimit` fails the statement. Informational
// messages past a fixed amount of text are consumed but not kept. A batch
// cancelled through `running` always fails, also when the driver has already
// seen its end: a cancelled BACKUP is never taken for a finished one. A
// `timeLimit` above zero is the driver's query timeout for this batch alone;
// a batch that is not `cancellable` is never cancelled through `running`.
StatementRun RunOdbcStatement(SQLHDBC connection, std::string_view sql, bool collectRows,
                              std::size_t resultByteLimit, RunningStatement* running = nullptr,
                              std::chrono::seconds timeLimit = {}, bool cancellable = true);

}  // namespace mvx
