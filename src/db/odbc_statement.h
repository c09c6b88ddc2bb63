#pragma once

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

// Runs one batch on its own statement handle and drains every result with
// SQLMoreResults until the driver reports no more: a BACKUP's error may come
// only after its progress messages, and a statement closed early is
// cancelled. With `collectRows` the first result set is read into memory.
StatementRun RunOdbcStatement(SQLHDBC connection, std::string_view sql, bool collectRows);

}  // namespace mvx
