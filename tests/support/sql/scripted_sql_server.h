#pragma once

// A SQL Server stand-in for tests: it speaks enough TDS 7.4 over loopback for the FreeTDS ODBC
// driver to log in and run batches, and answers each batch from rules the test gives it.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// Members carry `{}` initializers so designated initializers that leave some out, such as
// `SqlReply{.rowCount = 3}`, compile under g++ 12 with -Wextra -Werror.

namespace mvx::testing {

// Text travels as NVARCHAR; VarChar as VARCHAR(8000) in the server's Korean collation, so its
// bytes are CP949 on the wire and the driver converts them.
struct SqlColumn {
  std::string name{};
  enum class Type { Int, BigInt, Text, VarChar } type = Type::Text;
};

// std::nullopt is NULL; Int/BigInt cells are decimal text; Text and VarChar cells are UTF-8.
using SqlCell = std::optional<std::string>;

struct SqlResultSet {
  std::vector<SqlColumn> columns{};
  std::vector<std::vector<SqlCell>> rows{};
};

// Text is UTF-8.
struct SqlMessage {
  int number = 0;
  std::string text{};
  int severity = 0;
  int state = 1;
};

// What the server sends for one batch, in this order:
//   1. after `delay`: the infos (INFO tokens), `infoInterval` apart, each pushed to the client at
//      once; with `dropConnection` the socket is closed right after them and nothing else is sent;
//   2. each result set, closed by a DONE that counts its rows;
//   3. with `rowCount`: a DONE with that count;
//   4. with `error`: the ERROR token and a DONE marked as failed. When infos came first and there
//      is no result set, a plain DONE is sent between the infos and the error, the way a BACKUP
//      reports, so the client meets the error only while draining results. An error severity of
//      0 means 16.
// A batch that gets nothing else gets one plain DONE. Like a real server, the login and every
// `use` send the info 5701 "Changed database context to '<db>'.". An ATTENTION from the client
// during the delay, between infos, or while the client stops reading, ends the reply with
// DONE(ATTN).
struct SqlReply {
  std::vector<SqlMessage> infos{};
  std::vector<SqlResultSet> results{};
  std::optional<long long> rowCount{};
  std::optional<SqlMessage> error{};
  bool dropConnection = false;
  std::chrono::milliseconds delay{0};
  std::chrono::milliseconds infoInterval{0};
  // Answered as a stored procedure called by the batch ("Exec PM_..."): each result set and the
  // row count or error end with DONEINPROC, then RETURNSTATUS and a final DONEPROC follow.
  // Delays, info intervals and drops do not apply.
  bool procedure = false;
  int returnStatus = 0;
  // An ATTENTION during the delay is taken and never acknowledged: the delay runs on and the
  // reply follows it as if no cancel had come, the way a server that lost the cancel behaves.
  bool ignoreAttention = false;
};

struct SqlLogin {
  std::string user{}, password{}, database{};  // database: as the login asked for it ("" = default)
};

struct SqlBatch {
  std::string text{};      // as received, UTF-8
  std::string database{};  // the connection's current database when the batch arrived
};

// What the server's faults did to its clients, counted since it started (clearRecords leaves
// them).
struct SqlFaultCounts {
  int closedWhileDown = 0;  // connections closed before their login by setDown
  int refusedLogins = 0;    // logins failed by refuseLogins
  int droppedBatches = 0;   // batches whose reply dropped the connection
  int errorReplies = 0;     // batches and procedure calls answered with a rule's error
};

class ScriptedSqlServer {
 public:
  // Listens on 127.0.0.1 on a free port and starts accepting at once.
  ScriptedSqlServer();
  // Closes every connection and joins every thread; never waits on a client.
  ~ScriptedSqlServer();
  ScriptedSqlServer(const ScriptedSqlServer&) = delete;
  ScriptedSqlServer& operator=(const ScriptedSqlServer&) = delete;

  uint16_t port() const;

  // `pattern` is an ECMAScript regex searched case-insensitively in the batch text. The first
  // matching rule in the order added answers; after `times` answers (-1: unlimited) a rule no
  // longer matches. Rules come before the built-in `use <db>` handling. Throws
  // std::invalid_argument for a reply the wire cannot carry (a row of the wrong width, an Int
  // cell that is not a 32-bit decimal, a BigInt cell that is not a 64-bit decimal) and
  // std::regex_error for a bad pattern. A VarChar cell must be CP949 text of at most 8000 bytes.
  void addRule(const std::string& pattern, SqlReply reply, int times = -1);
  void clearRules();

  // Databases that exist (compared case-insensitively); "master" always exists. An empty list
  // (the default) accepts any name.
  void setDatabases(std::vector<std::string> names);
  // While set, every login fails with error 18456.
  void refuseLogins(bool refuse);
  // While set, every new connection is closed before its login, as a server that is down.
  void setDown(bool down);
  // While set, every new connection is accepted and never answered (a hung server, a half-open
  // port forward): what the client sends is read and dropped until it leaves.
  void hangLogins(bool hang);
  // From now on a BACKUP batch that succeeds (no error in its reply, not dropped, not
  // cancelled) creates its backup file, as a real server does: the path of its
  // TO DISK = N'...' literal is taken as a path on the server's disk, and its last
  // component is created in `folder` just before the final DONE is sent.
  void createBackupFiles(std::string folder);

  std::vector<SqlLogin> logins() const;  // every login attempt, refused ones too
  std::vector<SqlBatch> batches() const;
  std::vector<std::string> batchTexts() const;
  int disconnects() const;      // connections that have ended, for whatever reason
  int attentions() const;       // ignored ones too
  int hungConnections() const;  // connections taken while hanging logins
  int activeConnections() const;
  void clearRecords();  // logins, batches and the two counters
  SqlFaultCounts faultCounts() const;

  // Bounded waits for what a client thread does asynchronously; true when reached in time.
  bool waitForBatches(std::size_t count, std::chrono::milliseconds timeout) const;
  bool waitForDisconnects(int count, std::chrono::milliseconds timeout) const;
  bool waitForActiveConnections(int count, std::chrono::milliseconds timeout) const;  // exactly

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace mvx::testing
