#include "db/service_tables.h"

#include <string>

#include "common/text_util.h"
#include "db/query_helpers.h"

namespace mvx {
namespace {

constexpr std::string_view kSource = "RazuRarevi";
// Widths of T0245.C003 and C004 in the database's (CP949) bytes.
constexpr std::size_t kDatabaseColumnBytes = 20;
constexpr std::size_t kMessageColumnBytes = 50;
// SQL Server: "Invalid object name".
constexpr int kUnknownObject = 208;

constexpr std::string_view kCreateActivityTable =
    "create table T0245 (C001 bigint identity(1,1) not null,C002 DateTime not null,C003 "
    "varchar(20) not null,C004 varchar(50) not null,C005 varchar(15) null,primary key (C001))";
constexpr std::string_view kCreateIndex02 = "create index T0245_02 on T0245 (C005,C002,C003)";
constexpr std::string_view kCreateIndex03 = "create index T0245_03 on T0245 (C002,C003,C005)";
constexpr std::string_view kAddSourceColumn = "alter table T0245 Add C005 varchar(15) null";
constexpr std::string_view kCreateSettingsTable =
    "create table T0246 (C001 int not null,C002 varchar(10) null,C003 varchar(10) null,C004 "
    "varchar(10) null,C005 char(1) null,primary key(C001))";
constexpr std::string_view kPurge = "delete from T0245 where C002 < getDate() - 30";

}  // namespace

ServiceTables::ServiceTables(Database& database)
    : database_(database), sqlQuery_(database.connection()), openQ_(database.connection()) {
  sqlQuery_.SetTimeLimit(SqlConnection::kShortStatementLimit);
  openQ_.SetTimeLimit(SqlConnection::kShortStatementLimit);
}

bool ServiceTables::TableExists(std::string_view table) {
  OpenQuery(openQ_, "select Count(*) from sysobjects where id = object_id(" + SqlLiteral(table) +
                        ") and type = 'U'");
  const long long count = openQ_.FieldInt(0);
  openQ_.Close();
  return count > 0;
}

bool ServiceTables::ColumnExists(std::string_view table, std::string_view column) {
  OpenQuery(openQ_,
            "select count(*) from sysobjects a join syscolumns b on  a.id = b.id and b.name  = " +
                SqlLiteral(column) + "where a.name  = " + SqlLiteral(table) +
                "  and a.xtype = 'U' ");
  const long long count = openQ_.FieldInt(0);
  openQ_.Close();
  return count > 0;
}

void ServiceTables::EnsureServiceTables() {
  if (!database_.ConnectDatabase()) return;
  if (!TableExists("T0245")) {
    ExecuteStatement(sqlQuery_, kCreateActivityTable);
    ExecuteStatement(sqlQuery_, kCreateIndex02);
    ExecuteStatement(sqlQuery_, kCreateIndex03);
  } else if (!ColumnExists("T0245", "C005")) {
    // A table of the earlier layout: its rows are all the service's own.
    ExecuteStatement(sqlQuery_, kAddSourceColumn);
    ExecuteStatement(sqlQuery_, "update T0245 set C005 = " + SqlLiteral(kSource));
    ExecuteStatement(sqlQuery_, kCreateIndex02);
    ExecuteStatement(sqlQuery_, kCreateIndex03);
  }
  if (!TableExists("T0246")) ExecuteStatement(sqlQuery_, kCreateSettingsTable);
}

bool ServiceTables::WriteServiceLog(std::string_view database, std::string_view message) noexcept {
  bool stored = false;
  try {
    if (database_.ConnectDatabase()) {
      SqlConnection& connection = database_.connection();
      // After "use master" (the full backup ends that way) the row still
      // belongs in the connection database's table. "db..T0245" resolves the
      // schema as the bare name does in that database (the login's default
      // schema first), where the table was created without one. Its texts go
      // as N'...', so that master's collation cannot change the Korean.
      std::string table = "T0245";
      std::string_view prefix;
      const std::string& home = connection.ConnectionDatabase();
      if (!home.empty() && !EqualsNoCase(connection.CurrentDatabase(), home)) {
        table = SqlIdentifier(home) + "..T0245";
        prefix = "N";
      }
      // Cut to the column widths so that the row is stored, not refused.
      const std::string statement =
          "insert into " + table + " (C002,C003,C004,C005) values ( getDate() ," +
          std::string(prefix) + SqlLiteral(CutToCp949Bytes(database, kDatabaseColumnBytes)) + "," +
          std::string(prefix) + SqlLiteral(CutToCp949Bytes(message, kMessageColumnBytes)) + "," +
          std::string(prefix) + SqlLiteral(kSource) + ")";
      stored = RunStatement(sqlQuery_, statement).succeeded;
    }
  } catch (...) {
    // The message is lost; the service goes on.
  }
  database_.DisconnectDatabase();
  try {
    if (echo_) echo_(database, message, stored);
  } catch (...) {
    // The console echo is a convenience.
  }
  return stored;
}

void ServiceTables::PurgeServiceLog() {
  if (!database_.ConnectDatabase()) return;
  ExecuteStatement(sqlQuery_, kPurge);
  database_.DisconnectDatabase();
}

void ServiceTables::WriteServiceVersion(std::string_view version) {
  if (!database_.ConnectDatabase()) return;
  OpenQuery(sqlQuery_, "select count(*) from T0246");
  const long long count = sqlQuery_.FieldInt(0);
  if (count <= 0) {
    ExecuteStatement(sqlQuery_, "insert into T0246 (C001,C002,C003,C004) values (1, ''," +
                                    SqlLiteral(version) + ", '') ");
  } else {
    ExecuteStatement(sqlQuery_, "update T0246 set C003 = " + SqlLiteral(version));
  }
  database_.DisconnectDatabase();
}

std::string ServiceTables::ReadTransportMode() {
  if (!database_.ConnectDatabase()) return {};
  std::string mode;
  try {
    OpenQuery(sqlQuery_, "select C005 from T0246");
    // A char(1) column holding '' reads back as one blank: that is the empty value too.
    mode = TrimBlanks(sqlQuery_.FieldText("C005"));
  } catch (const SqlError& error) {
    // Before the first start has created T0246 the mode is the default one,
    // so that the start goes on to create the table.
    if (error.nativeError() != kUnknownObject) throw;
  }
  sqlQuery_.Close();
  if (mode.empty()) mode = "1";
  database_.DisconnectDatabase();
  return mode;
}

}  // namespace mvx
