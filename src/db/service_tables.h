#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "db/database.h"
#include "db/sql_connection.h"

namespace mvx {

// The service's own tables T0245 (activity rows) and T0246 (version and
// transport mode), through the link module's query objects. Each of their
// statements is expected to be short and fails after
// SqlConnection::kShortStatementLimit (a lock held by another session must
// not hold a start, a tick or a stop for good).
class ServiceTables {
 public:
  explicit ServiceTables(Database& database);

  // Creates or upgrades the tables; leaves the connection open. The
  // existence checks pass their errors on.
  void EnsureServiceTables();
  // Never throws; the row always lands in the connection database's T0245,
  // with the name and message cut to the column widths. Closes the connection.
  // True when the row was stored.
  bool WriteServiceLog(std::string_view database, std::string_view message) noexcept;
  // Deletes rows older than 30 days; closes the connection.
  void PurgeServiceLog();
  // Inserts or updates the row of T0246; the count's error passes on (the
  // connection then stays open). Closes the connection.
  void WriteServiceVersion(std::string_view version);
  // "1" also when T0246 is missing, empty or NULL; empty without a connection.
  // Other errors of the read pass on. Closes the connection.
  std::string ReadTransportMode();

  // In the connection's current database; the caller has connected.
  bool TableExists(std::string_view table);
  bool ColumnExists(std::string_view table, std::string_view column);

  // Called with every message written (console echo) after the attempt:
  // database, message, whether the row was stored.
  using Echo = std::function<void(std::string_view, std::string_view, bool)>;
  void SetEcho(Echo echo) { echo_ = std::move(echo); }

 private:
  Database& database_;
  SqlQuery sqlQuery_;
  SqlQuery openQ_;
  Echo echo_;
};

}  // namespace mvx
