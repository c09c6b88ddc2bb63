#pragma once

#include <string>
#include <string_view>

#include "db/sql_connection.h"

namespace mvx {

// Opens a statement that returns rows (closing the query first); passes the
// error on. The query then sits on the first row.
void OpenQuery(SqlQuery& query, std::string_view sql);
// Runs a statement that returns no rows (closing the query first); every
// error is absorbed as -1, which is also the result of a success without a
// count. The query is left closed and reusable.
long long ExecuteStatement(SqlQuery& query, std::string_view sql);

// The outcome of a statement judged by its own error, not by a row count.
struct StatementOutcome {
  bool succeeded = false;
  long long rowsAffected = -1;
  std::string error;    // the server's message when it failed
  int nativeError = 0;  // SQL Server's error number when it failed
};
// Never throws.
StatementOutcome RunStatement(SqlQuery& query, std::string_view sql);

}  // namespace mvx
