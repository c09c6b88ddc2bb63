#pragma once

#include <chrono>

#include "config/settings.h"
#include "db/sql_connection.h"

namespace mvx {

// The server, connection database and login the settings name, as the service connects with
// them ("(Local)" when no server name is set).
ConnectionParams ConfiguredConnectionParams(const Settings& settings);

class TextLog;

// ConnectDatabase / DisconnectDatabase over the one connection, with the
// parameters taken from the settings at every attempt.
class Database {
 public:
  Database(SqlConnection& connection, const Settings& settings, TextLog& textLog);

  // True when the connection is open on return; an open connection is kept
  // as it is. A failed attempt records "Database 접속실패!!!" in the text log
  // (never through the database, so no further connection attempt follows;
  // the log suppresses the repeats); one cut short by a stop records nothing,
  // as its outcome is not known. Never throws.
  bool ConnectDatabase();
  void DisconnectDatabase() noexcept;

  SqlConnection& connection() { return connection_; }
  TextLog& textLog() { return textLog_; }
  // Tests point the connection at the scripted server.
  void SetPortOverride(int port) { portOverride_ = port; }
  void SetLoginTimeout(std::chrono::seconds timeout) { loginTimeout_ = timeout; }
  // While set, once an open has run out of its login time the later ones
  // fail at once, as that one did (the service start: one hung server must
  // not cost a login timeout per step).
  void SetGiveUpAfterTimeout(bool giveUp) { giveUpAfterTimeout_ = giveUp; }

 private:
  SqlConnection& connection_;
  const Settings& settings_;
  TextLog& textLog_;
  int portOverride_ = 0;
  std::chrono::seconds loginTimeout_ = ConnectionParams{}.loginTimeout;
  bool giveUpAfterTimeout_ = false;
};

}  // namespace mvx
