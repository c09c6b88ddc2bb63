#include "db/service_tables.h"

#include <gtest/gtest.h>

#include "db/query_helpers.h"
#include "db_test_support.h"

namespace mvx::dbtest {
namespace {

using sql::SqlColumn;
using sql::SqlReply;

const std::string kActivityExists =
    "select Count(*) from sysobjects where id = object_id('T0245' ) and type = 'U'";
const std::string kSourceColumnExists =
    "select count(*) from sysobjects a join syscolumns b on  a.id = b.id and b.name  = 'C005' "
    "where a.name  = 'T0245'   and a.xtype = 'U' ";
const std::string kSettingsExists =
    "select Count(*) from sysobjects where id = object_id('T0246' ) and type = 'U'";
const std::string kCreateActivity =
    "create table T0245 (C001 bigint identity(1,1) not null,C002 DateTime not null,C003 "
    "varchar(20) not null,C004 varchar(50) not null,C005 varchar(15) null,primary key (C001))";
const std::string kIndex02 = "create index T0245_02 on T0245 (C005,C002,C003)";
const std::string kIndex03 = "create index T0245_03 on T0245 (C002,C003,C005)";
const std::string kCreateSettings =
    "create table T0246 (C001 int not null,C002 varchar(10) null,C003 varchar(10) null,C004 "
    "varchar(10) null,C005 char(1) null,primary key(C001))";
const std::string kCountSettings = "select count(*) from T0246";
const std::string kReadMode = "select C005 from T0246";
const std::string kPurge = "delete from T0245 where C002 < getDate() - 30";
const std::string kStartRow =
    "insert into T0245 (C002,C003,C004,C005) values ( getDate() ,'' ,'RazuRarevi Start' "
    ",'RazuRarevi' )";

class ServiceTablesTest : public DbTest {
 protected:
  // The catalogue as the checks see it.
  void Catalogue(int activity, int sourceColumn, int settingsTable, int settingsRows) {
    server.addRule("object_id\\('T0245' \\)", Count(activity));
    server.addRule("b\\.name  = 'C005'", Count(sourceColumn));
    server.addRule("object_id\\('T0246' \\)", Count(settingsTable));
    server.addRule("^select count\\(\\*\\) from T0246", Count(settingsRows));
  }
  static SqlReply Mode(sql::SqlCell value) {
    return Rows({{"C005", SqlColumn::Type::Text}}, {{std::move(value)}});
  }
  // What the service start does with the tables, in its order.
  void Start() {
    EXPECT_EQ(tables.ReadTransportMode(), "1");
    tables.EnsureServiceTables();
    tables.WriteServiceVersion("1.0.0.12");
    tables.PurgeServiceLog();
    tables.WriteServiceLog("", "RazuRarevi Start");
  }

  ServiceTables tables{database};
};

TEST_F(ServiceTablesTest, StartOnAFreshDatabaseCreatesBothTablesAndTheVersionRow) {
  Catalogue(0, 0, 0, 0);
  server.addRule("^select C005 from T0246", Error(208, "Invalid object name 'T0246'."), 1);
  Start();
  EXPECT_EQ(server.batchTexts(),
            (std::vector<std::string>{
                kReadMode, kActivityExists, kCreateActivity, kIndex02, kIndex03, kSettingsExists,
                kCreateSettings, kCountSettings,
                "insert into T0246 (C001,C002,C003,C004) values (1, '','1.0.0.12' , '') ", kPurge,
                kStartRow}));
  // The tables' set-up keeps the connection for the version; the others close it.
  EXPECT_EQ(server.logins().size(), 4U);
  EXPECT_FALSE(connection.IsOpen());
}

TEST_F(ServiceTablesTest, StartOnAnOldActivityTableAddsTheSourceColumn) {
  Catalogue(1, 0, 1, 1);
  server.addRule("^select C005 from T0246", Mode(std::nullopt));
  Start();
  EXPECT_EQ(server.batchTexts(),
            (std::vector<std::string>{kReadMode, kActivityExists, kSourceColumnExists,
                                      "alter table T0245 Add C005 varchar(15) null",
                                      "update T0245 set C005 = 'RazuRarevi' ", kIndex02, kIndex03,
                                      kSettingsExists, kCountSettings,
                                      "update T0246 set C003 = '1.0.0.12' ", kPurge, kStartRow}));
}

TEST_F(ServiceTablesTest, SecondStartOnlyUpdatesTheVersion) {
  Catalogue(1, 1, 1, 1);
  server.addRule("^select C005 from T0246", Mode(""));
  Start();
  EXPECT_EQ(server.batchTexts(),
            (std::vector<std::string>{kReadMode, kActivityExists, kSourceColumnExists,
                                      kSettingsExists, kCountSettings,
                                      "update T0246 set C003 = '1.0.0.12' ", kPurge, kStartRow}));
}

TEST_F(ServiceTablesTest, TransportModeReadsAsOneUnlessTheTableSaysOtherwise) {
  struct Case {
    const char* name;
    SqlReply reply;
    std::string mode;
  };
  const std::vector<Case> cases = {
      {"no row", Rows({{"C005", SqlColumn::Type::Text}}, {}), "1"},
      {"NULL", Mode(std::nullopt), "1"},
      {"empty", Mode(""), "1"},
      {"blank-padded empty char(1)", Mode(" "), "1"},
      {"socket", Mode("2"), "2"},
      {"no table", Error(208, "Invalid object name 'T0246'."), "1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    server.clearRules();
    server.addRule("^select C005 from T0246", c.reply);
    EXPECT_EQ(tables.ReadTransportMode(), c.mode);
    EXPECT_FALSE(connection.IsOpen());
  }
  // Other errors of the read pass on; without a connection the mode is empty.
  server.clearRules();
  server.addRule("^select C005", Error(229, "The SELECT permission was denied."));
  EXPECT_THROW(tables.ReadTransportMode(), SqlError);
  server.clearRules();
  server.addRule("^select C005", Rows({{"C001", SqlColumn::Type::Int}}, {{"1"}}));
  EXPECT_THROW(tables.ReadTransportMode(), SqlError);
  database.DisconnectDatabase();
  server.refuseLogins(true);
  EXPECT_EQ(tables.ReadTransportMode(), "");
}

TEST_F(ServiceTablesTest, ActivityRowClosesTheConnectionAndTheNextStatementReopensIt) {
  std::vector<std::pair<std::string, bool>> echoed;  // message, stored
  tables.SetEcho([&](std::string_view, std::string_view message, bool stored) {
    echoed.emplace_back(std::string(message), stored);
  });
  ASSERT_TRUE(database.ConnectDatabase());
  SqlQuery backupQuery(connection);
  ExecuteStatement(backupQuery, "BACKUP DATABASE TremoLandix TO DISK = N'x.ful' ");

  tables.WriteServiceLog("TremoLandix", "Full Backup 완료");
  EXPECT_FALSE(connection.IsOpen());
  EXPECT_EQ(server.batchTexts().back(),
            "insert into T0245 (C002,C003,C004,C005) values ( getDate() ,'TremoLandix' ,'Full "
            "Backup 완료' ,'RazuRarevi' )");
  server.addRule("^insert into T0245", Error(8152, "String or binary data would be truncated."), 1);
  tables.WriteServiceLog("TremoLandix", "refused");
  EXPECT_EQ(echoed, (std::vector<std::pair<std::string, bool>>{{"Full Backup 완료", true},
                                                               {"refused", false}}));

  ExecuteStatement(backupQuery, "BACKUP DATABASE Brivellon TO DISK = N'y.ful' ");
  EXPECT_TRUE(connection.IsOpen());
  EXPECT_EQ(server.logins().size(), 3U);
  EXPECT_EQ(server.batches().back().database, "TremoLandix");
}

TEST_F(ServiceTablesTest, ActivityRowLandsInTheConnectionDatabaseAfterUse) {
  struct Case {
    std::string connectionDatabase;
    std::string table;
  };
  const std::vector<Case> cases = {
      {"TremoLandix", "TremoLandix..T0245"},
      {"Quendrilaxo 2024", "[Quendrilaxo 2024]..T0245"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.connectionDatabase);
    settings.connectionDatabase = c.connectionDatabase;
    ASSERT_TRUE(database.ConnectDatabase());
    SqlQuery backupQuery(connection);
    ExecuteStatement(backupQuery, "use master");
    tables.WriteServiceLog("Brivellon", "Full Backup 완료");
    EXPECT_EQ(server.batches().back().database, "master");
    EXPECT_EQ(server.batchTexts().back(),
              "insert into " + c.table +
                  " (C002,C003,C004,C005) values ( getDate() ,N'Brivellon' ,N'Full Backup 완료' "
                  ",N'RazuRarevi' )");
  }
}

TEST_F(ServiceTablesTest, LongNamesAndMessagesAreCutToTheColumnWidths) {
  const std::string syllables25 = "가나다라마바사아자차카타파하가나다라마바사아자차카";
  struct Case {
    std::string database;
    std::string message;
    std::string storedDatabase;
    std::string storedMessage;
  };
  const std::vector<Case> cases = {
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZ", "Full Backup 완료", "ABCDEFGHIJKLMNOPQRST",
       "Full Backup 완료"},
      {"TremoLandix", syllables25 + "타파하", "TremoLandix", syllables25},
      // The cut never splits a two-byte syllable.
      {"가나다라마바사아자차카", "a" + syllables25, "가나다라마바사아자차",
       "a" + syllables25.substr(0, 24 * 3)},
      // A character CP949 cannot hold is stored as one "?".
      {"\xF0\x9F\x98\x80" + std::string(20, 'A'), "m", "\xF0\x9F\x98\x80" + std::string(19, 'A'),
       "m"},
      // A quote is one byte in the column and two in the statement.
      {"TremoLandix", "D:\\Data_Backup\\it's full", "TremoLandix", "D:\\Data_Backup\\it''s full"},
  };
  for (const Case& c : cases) {
    tables.WriteServiceLog(c.database, c.message);
    EXPECT_EQ(server.batchTexts().back(),
              "insert into T0245 (C002,C003,C004,C005) values ( getDate() ,'" + c.storedDatabase +
                  "' ,'" + c.storedMessage + "' ,'RazuRarevi' )");
  }
}

TEST_F(ServiceTablesTest, WithoutTheDatabaseNothingRaisesAndTheFailureIsLoggedOnce) {
  int echoes = 0;
  tables.SetEcho([&](std::string_view, std::string_view, bool stored) {
    EXPECT_FALSE(stored);
    ++echoes;
  });
  server.refuseLogins(true);
  tables.WriteServiceLog("", "RazuRarevi Start");
  tables.WriteServiceLog("", "RazuRarevi Stop");
  tables.EnsureServiceTables();
  tables.PurgeServiceLog();
  tables.WriteServiceVersion("1.0.0.12");
  EXPECT_EQ(echoes, 2);
  EXPECT_TRUE(server.batchTexts().empty());
  EXPECT_EQ(server.logins().size(), 5U);
  EXPECT_EQ(FileLogMessages(), std::vector<std::string>{"Database 접속실패!!!"});
}

TEST_F(ServiceTablesTest, FailingStatementsAreAbsorbedButFailingChecksPassOn) {
  // Index names already taken: the following statements still run.
  Catalogue(0, 0, 1, 0);
  server.addRule("^create index", Error(1913, "The operation failed because an index exists."));
  tables.EnsureServiceTables();
  EXPECT_EQ(server.batchTexts(), (std::vector<std::string>{kActivityExists, kCreateActivity,
                                                           kIndex02, kIndex03, kSettingsExists}));
  EXPECT_TRUE(connection.IsOpen());

  server.clearRules();
  server.addRule("sysobjects", Error(229, "The SELECT permission was denied."));
  EXPECT_THROW(tables.EnsureServiceTables(), SqlError);
  server.addRule("T0246", Error(208, "Invalid object name 'T0246'."));
  EXPECT_THROW(tables.WriteServiceVersion("1.0.0.12"), SqlError);
  EXPECT_TRUE(connection.IsOpen());
}

}  // namespace
}  // namespace mvx::dbtest
