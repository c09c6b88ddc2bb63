#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace mvx {

// An error of the driver or the server; the message is the server's (UTF-8).
class SqlError : public std::runtime_error {
 public:
  SqlError(const std::string& message, int nativeError = 0)
      : std::runtime_error(message), nativeError_(nativeError) {}
  // SQL Server's error number (208: unknown object, 911: unknown database,
  // 18456: login refused); 0 when the driver itself failed.
  int nativeError() const { return nativeError_; }

 private:
  int nativeError_;
};

// The four values set at every connection attempt.
struct ConnectionParams {
  std::string hostName;
  std::string database;
  std::string userName;
  std::string password;
  // Tests point the connection at a loopback port; 0 means the server name decides.
  int portOverride = 0;
  // The whole open (TCP connect, pre-login, TLS, login) ends within this; tests shorten it.
  std::chrono::seconds loginTimeout{15};
};

struct StatementRun;
class SqlQuery;

// The one connection (SQLCon). Query objects bound to it open it implicitly
// with the parameters last set. Its current database is shared by them all.
class SqlConnection {
 public:
  SqlConnection();
  ~SqlConnection();
  SqlConnection(const SqlConnection&) = delete;
  SqlConnection& operator=(const SqlConnection&) = delete;

  void SetParams(ConnectionParams params);

  // Throws SqlError when no driver is installed, or the server can't be
  // reached or refuses the login. A no-op when open. Bounded by the login
  // timeout; a stop cuts it within a second (CutConnects).
  void Open();
  // Releases the connection; a no-op when closed. Rows already read by query
  // objects stay readable (they are held in memory).
  void Close() noexcept;
  bool IsOpen() const;
  // The connection database right after opening; changed by any "use", as
  // the server reports it. Empty while closed.
  const std::string& CurrentDatabase() const { return currentDatabase_; }
  // The database the connection was opened in. Empty while closed.
  const std::string& ConnectionDatabase() const { return connectionDatabase_; }
  // What the rows of one result may take in memory; a larger result fails
  // its statement. Tests lower it.
  void SetResultByteLimit(std::size_t bytes) { resultByteLimit_ = bytes; }
  // The one call that may come from another thread while a statement runs
  // (a service stop): cancels the statement running now, unless it started
  // less than `minAge` ago. The cancelled statement fails as any refused one
  // does; the connection stays usable. True when a statement was cancelled.
  // Statements run while a Hold lives are not cancelled; each has
  // kHeldStatementLimit of its own instead.
  bool CancelRunningStatement(std::chrono::milliseconds minAge = {});

  // Any thread (a stop). While set, an open that has run half a second gives
  // up, its late result dropped (a server that answers logs in long before);
  // opens under a Hold go on.
  void CutConnects(bool cut) { cutConnects_ = cut; }
  // Any thread (a stop during the start). While set, no statement is sent and
  // no new connection opened, not even under a Hold.
  void Halt(bool halt) { halted_ = halt; }
  // Whether an open was cut since the last call; clears it.
  bool TakeCutOpen() { return cutOpen_.exchange(false); }
  // Whether the last open was cut, or failed by running out of its login time.
  bool LastOpenCut() const { return lastOpenCut_; }
  bool LastOpenTimedOut() const { return lastOpenTimedOut_; }
  // Whether a connect given up on still runs inside the driver on its own
  // thread: the process must then end without unloading the driver under it.
  // While one to a server is out, a new open of that server fails at once (as
  // one that ran out of its login time), so a server that hangs every login
  // keeps at most one thread, socket and handle.
  bool ConnectStillOut() const;

  // Every open and statement from now on ends by `deadline`: a statement's
  // own limit is shortened to what is left (at least a second), an open walks
  // away at it, and once it has passed nothing more is sent. nullopt lifts it.
  // The stop's last row and the start's statements run under one.
  void SetDeadline(std::optional<std::chrono::steady_clock::time_point> deadline);
  // Whether an open or a statement failed, or was not sent, because the
  // deadline came; cleared by SetDeadline.
  bool DeadlineMissed() const { return deadlineMissed_; }

  // Work that must not be cut short by a stop (the undo of a half-done full
  // backup, the last row of a stop): its opens are not cut and its statements
  // not cancelled; each statement runs on `kHeldStatementLimit` instead.
  class Hold {
   public:
    explicit Hold(SqlConnection& connection) : connection_(connection) { ++connection_.holds_; }
    ~Hold() { --connection_.holds_; }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;

   private:
    SqlConnection& connection_;
  };
  bool Held() const { return holds_ > 0; }

  // Work a stop must wait for until its last resort, though its statements
  // stay cancellable (the undo of a half-done full backup, from the switch to
  // SIMPLE until its outcome row): `what` names it for the stop's text log.
  class StopWaits {
   public:
    StopWaits(SqlConnection& connection, std::string what);
    ~StopWaits();
    StopWaits(const StopWaits&) = delete;
    StopWaits& operator=(const StopWaits&) = delete;

   private:
    SqlConnection& connection_;
  };
  // Any thread: the name of the work a stop waits for; nullopt when there is none.
  std::optional<std::string> AwaitedWork() const;
  static constexpr std::chrono::seconds kHeldStatementLimit{10};
  // What a statement expected to be short may take before it fails with a
  // timeout; BACKUP, RESTORE, DBCC and the key-part procedures have no bound.
  static constexpr std::chrono::seconds kShortStatementLimit{30};

 private:
  friend class SqlQuery;
  struct Impl;
  // Runs one batch, opening the connection first when it is closed. A link
  // lost on the way closes the connection, so the next statement reopens it.
  StatementRun Run(std::string_view sql, bool collectRows, std::chrono::seconds timeLimit);
  void TrackCurrentDatabase(std::string_view sql, bool succeeded);
  bool ConnectsCut() const { return halted_ || (cutConnects_ && holds_ == 0); }
  // `limit` shortened to what the deadline leaves; throws when it has passed.
  std::chrono::seconds LimitByDeadline(std::chrono::seconds limit);

  ConnectionParams params_;
  std::string currentDatabase_;
  std::string connectionDatabase_;
  std::size_t resultByteLimit_;
  std::atomic<bool> cutConnects_{false};
  std::atomic<bool> halted_{false};
  std::atomic<bool> cutOpen_{false};
  std::atomic<int> holds_{0};
  bool lastOpenCut_ = false;
  bool lastOpenTimedOut_ = false;
  std::optional<std::chrono::steady_clock::time_point> deadline_;
  bool deadlineMissed_ = false;
  std::unique_ptr<Impl> impl_;
};

// A query object: one statement at a time on the shared connection. Opening
// reads the whole result into memory and finishes the statement, so the next
// query object may run at once.
class SqlQuery {
 public:
  explicit SqlQuery(SqlConnection& connection) : connection_(connection) {}

  // Each later statement of this query object fails with a timeout after
  // `limit` (zero: no bound). Under a Hold the hold's own limit applies.
  void SetTimeLimit(std::chrono::seconds limit) { timeLimit_ = limit; }

  void Close() noexcept;
  // Runs a statement that returns rows; the first row becomes current.
  // Throws SqlError when the statement fails or returns no result set.
  void Open(std::string_view sql);
  // Runs a statement without rows; the rows affected as the driver reports
  // them (-1 when it gives no count). Throws SqlError on any error, also one
  // reported after progress messages.
  long long Execute(std::string_view sql);

  bool IsOpen() const { return open_; }
  bool Eof() const;  // no (more) rows
  void Next();
  // Column names compare without regard to case.
  bool HasField(std::string_view name) const;
  // Column of the current row by position (0 is the first) or by name, as
  // text (NULL reads as empty) or integer (NULL and non-numbers read as 0).
  // Past the last row every column reads as NULL. Throws SqlError when the
  // query is not open or has no such column.
  std::string FieldText(int index) const;
  std::string FieldText(std::string_view name) const;
  long long FieldInt(int index) const;
  long long FieldInt(std::string_view name) const;
  bool FieldIsNull(int index) const;

  // Informational messages of the last statement (progress of a BACKUP).
  const std::vector<std::string>& Messages() const { return messages_; }

 private:
  int ColumnIndex(std::string_view name) const;
  const std::optional<std::string>& Cell(int index) const;

  SqlConnection& connection_;
  std::chrono::seconds timeLimit_{};
  std::vector<std::string> columns_;
  std::vector<std::vector<std::optional<std::string>>> rows_;
  std::size_t current_ = 0;
  bool open_ = false;
  std::vector<std::string> messages_;
};

}  // namespace mvx
