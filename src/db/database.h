#pragma once

#include "config/settings.h"
#include "db/sql_connection.h"

namespace mvx {

class TextLog;

// ConnectDatabase / DisconnectDatabase over the one connection, with the
// parameters taken from the settings at every attempt.
class Database {
 public:
  Database(SqlConnection& connection, const Settings& settings, TextLog& textLog);

  // True when the connection is open on return; an open connection is kept
  // as it is. A failed attempt records "Database 접속실패!!!" in the text log
  // (never through the database, so no further connection attempt follows;
  // the log suppresses the repeats). Never throws.
  bool ConnectDatabase();
  void DisconnectDatabase() noexcept;

  SqlConnection& connection() { return connection_; }
  TextLog& textLog() { return textLog_; }
  // Tests point the connection at the scripted server.
  void SetPortOverride(int port) { portOverride_ = port; }

 private:
  SqlConnection& connection_;
  const Settings& settings_;
  TextLog& textLog_;
  int portOverride_ = 0;
};

}  // namespace mvx
