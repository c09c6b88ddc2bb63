#include "db/query_helpers.h"

#include <exception>

namespace mvx {

void OpenQuery(SqlQuery& query, std::string_view sql) { query.Open(sql); }

long long ExecuteStatement(SqlQuery& query, std::string_view sql) {
  const StatementOutcome outcome = RunStatement(query, sql);
  return outcome.succeeded ? outcome.rowsAffected : -1;
}

StatementOutcome RunStatement(SqlQuery& query, std::string_view sql) {
  StatementOutcome outcome;
  try {
    outcome.rowsAffected = query.Execute(sql);
    outcome.succeeded = true;
  } catch (const SqlError& error) {
    outcome.error = error.what();
    outcome.nativeError = error.nativeError();
  } catch (const std::exception& error) {
    outcome.error = error.what();
  } catch (...) {
    outcome.error = "statement failed";
  }
  query.Close();
  return outcome;
}

}  // namespace mvx
