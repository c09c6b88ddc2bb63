#include "db/odbc_statement.h"

#include <algorithm>
#include <array>
#include <utility>

namespace mvx {
namespace {

// Bounds for results that nothing the service reads comes near; hostile or
// runaway results end as a failed statement instead of exhausting memory.
// Each row count inside a procedure is a result of its own for the Microsoft
// drivers, so a maintenance procedure working row by row yields one per row:
// only a driver that never stops answering may reach this bound, and ending
// there cancels the statement.
constexpr int kMaxResults = 100'000'000;
constexpr int kMaxErrorsInARow = 100;
constexpr SQLSMALLINT kMaxColumns = 4096;
// Text of the diagnostics kept: a procedure that prints in a loop must not
// fill the memory with its messages. Those past it are consumed and dropped.
constexpr std::size_t kMaxDiagnosticBytes = 1024 * 1024;

class StatementDrain {
 public:
  StatementDrain(SQLHSTMT statement, StatementRun& run, std::size_t resultByteLimit)
      : statement_(statement), run_(run), rowBudget_(resultByteLimit) {}

  // Diagnostics of the last call: errors fail the statement, the rest are
  // messages. FreeTDS reports its own failures (a connection that broke off,
  // for one) under the informational state 01000 with its client error
  // numbers; a call that failed with nothing but those fails on them.
  void Collect(SQLRETURN rc) {
    if (rc == SQL_INVALID_HANDLE) {
      Fail("invalid statement handle");
      return;
    }
    bool serverError = false;
    std::vector<DiagRecord> clientErrors;
    for (DiagRecord& record : ReadDiagnostics(SQL_HANDLE_STMT, statement_)) {
      if (IsConnectionLost(record)) run_.connectionLost = true;
      if (IsErrorRecord(record)) {
        serverError = true;
        KeepError(std::move(record));
      } else if (rc == SQL_ERROR && IsDriverClientError(record)) {
        clientErrors.push_back(std::move(record));
      } else {
        KeepMessage(std::move(record.message));
      }
    }
    if (serverError) run_.failed = true;
    if (rc != SQL_ERROR) return;
    run_.failed = true;
    if (serverError) {
      for (DiagRecord& record : clientErrors) KeepMessage(std::move(record.message));
    } else if (!clientErrors.empty()) {
      for (DiagRecord& record : clientErrors) KeepError(std::move(record));
    } else {
      KeepError({"HY000", 0, "statement failed"});
    }
  }

  void Fail(std::string message) {
    run_.failed = true;
    KeepError({"HY000", 0, std::move(message)});
  }

  // One result: rows (read or skipped) or a row count.
  void TakeResult(bool collectRows) {
    SQLSMALLINT columns = 0;
    const SQLRETURN rc = SQLNumResultCols(statement_, &columns);
    if (!SQL_SUCCEEDED(rc)) {
      Collect(rc);
      return;
    }
    if (columns <= 0) {
      SQLLEN count = -1;
      if (SQL_SUCCEEDED(SQLRowCount(statement_, &count)) && count >= 0 && run_.rowCount < 0) {
        run_.rowCount = static_cast<long long>(count);
      }
      return;
    }
    // Only the first result set is kept; SQLMoreResults discards the rows of the others.
    if (!collectRows || run_.hasResultSet) return;
    if (columns > kMaxColumns) {
      Fail("result has too many columns");
      return;
    }
    run_.hasResultSet = true;
    if (!DescribeColumns(columns)) return;
    ReadRows(columns);
  }

 private:
  bool DescribeColumns(SQLSMALLINT columns) {
    for (SQLSMALLINT i = 1; i <= columns; ++i) {
      std::vector<SQLWCHAR> name(256);
      SQLSMALLINT length = 0;
      SQLSMALLINT type = 0;
      SQLULEN size = 0;
      SQLSMALLINT digits = 0;
      SQLSMALLINT nullable = 0;
      SQLRETURN rc = SQLDescribeColW(statement_, static_cast<SQLUSMALLINT>(i), name.data(),
                                     static_cast<SQLSMALLINT>(name.size()), &length, &type, &size,
                                     &digits, &nullable);
      if (rc == SQL_SUCCESS_WITH_INFO && length >= static_cast<SQLSMALLINT>(name.size())) {
        name.assign(static_cast<std::size_t>(length) + 1, 0);
        rc = SQLDescribeColW(statement_, static_cast<SQLUSMALLINT>(i), name.data(),
                             static_cast<SQLSMALLINT>(name.size()), &length, &type, &size, &digits,
                             &nullable);
      }
      if (!SQL_SUCCEEDED(rc)) {
        Collect(rc);
        return false;
      }
      const std::size_t used =
          length < 0 ? 0 : std::min<std::size_t>(static_cast<std::size_t>(length), name.size() - 1);
      run_.columns.push_back(FromSqlWide(name.data(), used));
    }
    return true;
  }

  void KeepMessage(std::string message) {
    if (Account(message.size())) run_.messages.push_back(std::move(message));
  }
  // The first error is always kept: it is the one the caller reports.
  void KeepError(DiagRecord record) {
    if (Account(record.message.size()) || run_.errors.empty()) {
      run_.errors.push_back(std::move(record));
    }
  }
  bool Account(std::size_t bytes) {
    if (bytes > kMaxDiagnosticBytes - diagnosticBytes_) return false;
    diagnosticBytes_ += bytes;
    return true;
  }

  // Takes `bytes` from what the rows may still use; a result that does not
  // fit fails the statement.
  bool Charge(std::size_t bytes) {
    if (bytes > rowBudget_) {
      Fail("result too large");
      return false;
    }
    rowBudget_ -= bytes;
    return true;
  }

  // Every row costs its cells' bookkeeping, so the budget also bounds the
  // number of rows of empty or NULL cells.
  void ReadRows(SQLSMALLINT columns) {
    const std::size_t rowBytes =
        sizeof(SqlRow) + static_cast<std::size_t>(columns) * sizeof(SqlRow::value_type);
    for (;;) {
      const SQLRETURN rc = SQLFetch(statement_);
      if (rc == SQL_NO_DATA) return;
      if (!SQL_SUCCEEDED(rc)) {
        Collect(rc);
        return;
      }
      if (rc == SQL_SUCCESS_WITH_INFO) Collect(rc);
      if (!Charge(rowBytes)) return;
      SqlRow row;
      row.reserve(static_cast<std::size_t>(columns));
      for (SQLSMALLINT i = 1; i <= columns; ++i) {
        std::optional<std::string> cell;
        if (!ReadCell(static_cast<SQLUSMALLINT>(i), cell)) return;
        row.push_back(std::move(cell));
      }
      run_.rows.push_back(std::move(row));
    }
  }

  // Every column is read as UTF-16 text, in pieces when it is long.
  bool ReadCell(SQLUSMALLINT column, std::optional<std::string>& cell) {
    std::array<SQLWCHAR, 2048> buffer{};
    constexpr SQLLEN kBufferBytes = static_cast<SQLLEN>(sizeof(buffer));
    constexpr std::size_t kPieceUnits = buffer.size() - 1;
    std::vector<SQLWCHAR> text;
    for (;;) {
      SQLLEN indicator = 0;
      const SQLRETURN rc =
          SQLGetData(statement_, column, SQL_C_WCHAR, buffer.data(), kBufferBytes, &indicator);
      if (rc == SQL_NO_DATA) break;  // the previous piece was the last
      if (!SQL_SUCCEEDED(rc)) {
        Collect(rc);
        return false;
      }
      if (indicator == SQL_NULL_DATA) {
        cell.reset();
        return true;
      }
      const bool truncated = indicator == SQL_NO_TOTAL || indicator >= kBufferBytes - 1;
      const std::size_t units =
          truncated ? kPieceUnits
                    : std::min<std::size_t>(static_cast<std::size_t>(indicator) / 2, kPieceUnits);
      text.insert(text.end(), buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(units));
      if (text.size() * sizeof(SQLWCHAR) > rowBudget_) {
        Fail("result too large");
        return false;
      }
      if (rc == SQL_SUCCESS || !truncated) break;
    }
    std::string value = FromSqlWide(text.data(), text.size());
    if (!Charge(value.size())) return false;
    cell = std::move(value);
    return true;
  }

  SQLHSTMT statement_;
  StatementRun& run_;
  std::size_t rowBudget_;
  std::size_t diagnosticBytes_ = 0;
};

// After an error the driver manager may consider the statement finished and
// answer a function-sequence error: that means "no more results".
bool OnlySequenceError(SQLHSTMT statement) {
  const std::vector<DiagRecord> records = ReadDiagnostics(SQL_HANDLE_STMT, statement);
  if (records.empty()) return false;
  for (const DiagRecord& record : records) {
    if (record.sqlState != "HY010") return false;
  }
  return true;
}

// Keeps the statement published for a cancel from Begin() to Finish(), and
// on every path until the handle is freed.
class RunningScope {
 public:
  RunningScope(RunningStatement* running, SQLHSTMT statement, bool cancellable)
      : running_(running) {
    if (running_ != nullptr) running_->Begin(statement, cancellable);
  }
  ~RunningScope() { Finish(); }
  RunningScope(const RunningScope&) = delete;
  RunningScope& operator=(const RunningScope&) = delete;
  // True when the statement was cancelled.
  bool Finish() {
    if (running_ == nullptr) return false;
    return std::exchange(running_, nullptr)->End();
  }

 private:
  RunningStatement* running_;
};

// Runs the batch and drains every result.
void Drain(SQLHSTMT statement, std::string_view sql, bool collectRows, std::size_t resultByteLimit,
           StatementRun& run) {
  StatementDrain drain(statement, run, resultByteLimit);
  std::vector<SQLWCHAR> text = ToSqlWide(sql);
  SQLRETURN rc = SQLExecDirectW(statement, text.data(), static_cast<SQLINTEGER>(text.size() - 1));
  // SQL_NO_DATA from the execution is a statement with no rows and no count.
  int errorsInARow = 0;
  for (int results = 0; results < kMaxResults; ++results) {
    if (rc == SQL_INVALID_HANDLE) {
      drain.Collect(rc);
      return;
    }
    if (rc != SQL_NO_DATA) drain.Collect(rc);
    if (SQL_SUCCEEDED(rc)) drain.TakeResult(collectRows);
    if (run.connectionLost) return;
    errorsInARow = rc == SQL_ERROR ? errorsInARow + 1 : 0;
    if (errorsInARow >= kMaxErrorsInARow) return;
    rc = SQLMoreResults(statement);
    if (rc == SQL_NO_DATA) {
      drain.Collect(rc);
      return;
    }
    if (rc == SQL_ERROR && run.failed && OnlySequenceError(statement)) return;
  }
  if (!run.connectionLost) run.failed = true;
}

}  // namespace

void RunningStatement::Begin(SQLHSTMT statement, bool cancellable) {
  std::lock_guard lock(mutex_);
  statement_ = statement;
  cancellable_ = cancellable;
  since_ = std::chrono::steady_clock::now();
  cancelled_ = false;
}

bool RunningStatement::End() {
  std::unique_lock lock(mutex_);
  statement_ = SQL_NULL_HSTMT;
  // Unbounded on purpose: the handle must outlive the cancel. A cancel that
  // never returns keeps this thread here, and the stop gives up on it.
  cancelReturned_.wait(lock, [this] { return cancelsUnderWay_ == 0; });
  return std::exchange(cancelled_, false);
}

bool RunningStatement::Cancel(std::chrono::milliseconds minAge) {
  SQLHSTMT statement = SQL_NULL_HSTMT;
  {
    std::lock_guard lock(mutex_);
    if (statement_ == SQL_NULL_HSTMT || !cancellable_ ||
        std::chrono::steady_clock::now() - since_ < minAge) {
      return false;
    }
    statement = statement_;
    cancelled_ = true;
    ++cancelsUnderWay_;
  }
  SQLCancel(statement);
  {
    std::lock_guard lock(mutex_);
    --cancelsUnderWay_;
  }
  cancelReturned_.notify_all();
  return true;
}

std::string StatementRun::ErrorText() const {
  std::string text;
  for (const DiagRecord& record : errors) {
    if (record.message.empty()) continue;
    if (!text.empty()) text.push_back('\n');
    text.append(record.message);
  }
  return text.empty() ? std::string("statement failed") : text;
}

int StatementRun::ErrorNumber() const {
  for (const DiagRecord& record : errors) {
    if (record.nativeError != 0) return static_cast<int>(record.nativeError);
  }
  return 0;
}

StatementRun RunOdbcStatement(SQLHDBC connection, std::string_view sql, bool collectRows,
                              std::size_t resultByteLimit, RunningStatement* running,
                              std::chrono::seconds timeLimit, bool cancellable) {
  StatementRun run;
  OdbcHandle statement = OdbcHandle::Allocate(SQL_HANDLE_STMT, connection);
  if (!statement) {
    run.failed = true;
    for (DiagRecord& record : ReadDiagnostics(SQL_HANDLE_DBC, connection)) {
      if (IsConnectionLost(record)) run.connectionLost = true;
      run.errors.push_back(std::move(record));
    }
    if (run.errors.empty()) run.errors.push_back({"HY001", 0, "no statement handle"});
    return run;
  }
  if (timeLimit.count() > 0) {
    SQLSetStmtAttrW(statement.get(), SQL_ATTR_QUERY_TIMEOUT,
                    reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(timeLimit.count())),
                    SQL_IS_UINTEGER);
  }
  RunningScope scope(running, statement.get(), cancellable);
  Drain(statement.get(), sql, collectRows, resultByteLimit, run);
  if (scope.Finish() && !run.failed) {
    run.failed = true;
    run.errors.push_back({"HY008", 0, "Operation canceled"});
  }
  return run;
}

}  // namespace mvx
