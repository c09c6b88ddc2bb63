#pragma once

// Short forms of the scripted server's most common answers.

#include <string>
#include <utility>
#include <vector>

#include "support/sql/scripted_sql_server.h"

namespace mvx::testing {

inline SqlReply Rows(std::vector<SqlColumn> columns, std::vector<std::vector<SqlCell>> rows) {
  SqlReply reply;
  reply.results.push_back({std::move(columns), std::move(rows)});
  return reply;
}

// One row with one unnamed integer, as "select count(*) ..." answers.
inline SqlReply Count(long long n) {
  return Rows({{"", SqlColumn::Type::Int}}, {{std::to_string(n)}});
}

// A column of the application's own tables: VARCHAR in the Korean collation.
inline SqlColumn VarChar(std::string name) { return {std::move(name), SqlColumn::Type::VarChar}; }

// A key-part procedure's answer: the VARCHAR column C001 with one row holding `c001`, or with no
// row at all when `withRow` is false.
inline SqlReply ProcedureAnswer(SqlCell c001, bool withRow = true) {
  SqlReply reply;
  reply.results.push_back({{VarChar("C001")}, {}});
  if (withRow) reply.results.front().rows.push_back({std::move(c001)});
  reply.procedure = true;
  return reply;
}

inline SqlReply Error(int number, std::string text) {
  SqlReply reply;
  reply.error = SqlMessage{number, std::move(text), 16};
  return reply;
}

}  // namespace mvx::testing
