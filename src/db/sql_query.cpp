#include <charconv>

#include "common/text_util.h"
#include "db/odbc_statement.h"
#include "db/sql_connection.h"

namespace mvx {
namespace {

const std::optional<std::string> kNull;

// Decimal integer text; a fraction after the point is dropped ("12.00" -> 12).
// Anything else, and values out of range, read as 0.
long long ParseInteger(const std::string& text) {
  std::string_view digits = text;
  while (!digits.empty() && digits.front() == ' ') digits.remove_prefix(1);
  while (!digits.empty() && digits.back() == ' ') digits.remove_suffix(1);
  if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
  long long value = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (error != std::errc() || end == digits.data()) return 0;
  std::string_view rest(end, static_cast<std::size_t>(digits.data() + digits.size() - end));
  if (rest.empty()) return value;
  if (rest.front() != '.') return 0;
  for (char c : rest.substr(1)) {
    if (c < '0' || c > '9') return 0;
  }
  return value;
}

}  // namespace

void SqlQuery::Close() noexcept {
  open_ = false;
  columns_.clear();
  rows_.clear();
  current_ = 0;
}

void SqlQuery::Open(std::string_view sql) {
  Close();
  messages_.clear();
  StatementRun run = connection_.Run(sql, true, timeLimit_);
  messages_ = std::move(run.messages);
  if (run.failed) throw SqlError(run.ErrorText(), run.ErrorNumber());
  if (!run.hasResultSet) throw SqlError("the statement returned no result set");
  columns_ = std::move(run.columns);
  rows_ = std::move(run.rows);
  open_ = true;
}

long long SqlQuery::Execute(std::string_view sql) {
  Close();
  messages_.clear();
  StatementRun run = connection_.Run(sql, false, timeLimit_);
  messages_ = std::move(run.messages);
  if (run.failed) throw SqlError(run.ErrorText(), run.ErrorNumber());
  return run.rowCount;
}

bool SqlQuery::Eof() const { return !open_ || current_ >= rows_.size(); }

void SqlQuery::Next() {
  if (!Eof()) ++current_;
}

int SqlQuery::ColumnIndex(std::string_view name) const {
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    if (EqualsNoCase(columns_[i], name)) return static_cast<int>(i);
  }
  return -1;
}

bool SqlQuery::HasField(std::string_view name) const { return open_ && ColumnIndex(name) >= 0; }

const std::optional<std::string>& SqlQuery::Cell(int index) const {
  if (!open_) throw SqlError("the query is not open");
  if (index < 0 || static_cast<std::size_t>(index) >= columns_.size()) {
    throw SqlError("the result has no column " + std::to_string(index));
  }
  if (Eof()) return kNull;
  const auto& row = rows_[current_];
  if (static_cast<std::size_t>(index) >= row.size()) return kNull;
  return row[static_cast<std::size_t>(index)];
}

std::string SqlQuery::FieldText(int index) const {
  const auto& cell = Cell(index);
  return cell ? *cell : std::string();
}

std::string SqlQuery::FieldText(std::string_view name) const {
  const int index = ColumnIndex(name);
  if (open_ && index < 0) throw SqlError("the result has no column " + std::string(name));
  return FieldText(index);
}

long long SqlQuery::FieldInt(int index) const {
  const auto& cell = Cell(index);
  return cell ? ParseInteger(*cell) : 0;
}

long long SqlQuery::FieldInt(std::string_view name) const {
  const int index = ColumnIndex(name);
  if (open_ && index < 0) throw SqlError("the result has no column " + std::string(name));
  return FieldInt(index);
}

bool SqlQuery::FieldIsNull(int index) const { return !Cell(index).has_value(); }

}  // namespace mvx
