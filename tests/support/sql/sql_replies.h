#pragma once

// Short forms of the scripted server's most common answers.

#include <cstddef>
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

// The status row of an application database's T0500 as a key-part run reads it (no row when
// `c001` is nullopt); the seven step flags and nine procedure flags as digit strings.
inline SqlReply KeyPartStatus(SqlCell c001, std::string c002 = "", std::string c003 = "",
                              std::string steps = "0000000", std::string procedures = "000000000") {
  std::vector<SqlColumn> columns{VarChar("C001"), VarChar("C002"), VarChar("C003")};
  std::vector<SqlCell> row{c001, std::move(c002), std::move(c003)};
  for (std::size_t i = 0; i < 16; ++i) {
    columns.push_back(
        VarChar(i < 7 ? "C01" + std::to_string(i + 1) : "C03" + std::to_string(i - 6)));
    row.push_back(std::string(1, i < 7 ? steps.at(i) : procedures.at(i - 7)));
  }
  std::vector<std::vector<SqlCell>> rows;
  if (c001) rows.push_back(std::move(row));
  return Rows(std::move(columns), std::move(rows));
}
// The pattern of the status read.
inline constexpr const char* kKeyPartStatusRead = "^select C001,.*\\.T0500 $";

inline SqlReply Error(int number, std::string text) {
  SqlReply reply;
  reply.error = SqlMessage{number, std::move(text), 16};
  return reply;
}

}  // namespace mvx::testing
