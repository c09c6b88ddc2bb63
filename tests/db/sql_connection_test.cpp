#include "db/sql_connection.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <thread>

#include "db/query_helpers.h"
#include "db_test_support.h"

namespace mvx::dbtest {
namespace {

using sql::SqlColumn;
using sql::SqlReply;
using std::chrono::seconds;
using Type = SqlColumn::Type;

class SqlConnectionTest : public DbTest {};

TEST_F(SqlConnectionTest, ReadsRowsByPositionAndNameWithKoreanTextAndNulls) {
  const std::string longText(3000, 'x');  // longer than one read from the driver
  server.addRule("^select C001, C051",
                 Rows({{"C001", Type::Int}, {"C051", Type::Text}, {"C052", Type::BigInt}},
                      {{"3", "KeyPart 정리 시작(TremoLandix)", "9000000000"},
                       {std::nullopt, std::nullopt, std::nullopt},
                       {"-7", "한" + longText + "끝", "0"}}));
  ASSERT_TRUE(database.ConnectDatabase());
  SqlQuery query(connection);
  OpenQuery(query, "select C001, C051, C052 from T0500");

  EXPECT_TRUE(query.HasField("c051"));
  EXPECT_FALSE(query.HasField("C099"));
  EXPECT_EQ(query.FieldInt(0), 3);
  EXPECT_EQ(query.FieldText("C051"), "KeyPart 정리 시작(TremoLandix)");
  EXPECT_EQ(query.FieldInt("C052"), 9000000000LL);
  query.Next();
  EXPECT_TRUE(query.FieldIsNull(1));
  EXPECT_EQ(query.FieldText(1), "");
  EXPECT_EQ(query.FieldInt("C001"), 0);
  query.Next();
  EXPECT_EQ(query.FieldInt(0), -7);
  EXPECT_EQ(query.FieldText(1), "한" + longText + "끝");
  query.Next();
  EXPECT_TRUE(query.Eof());
  // Past the last row the columns read as NULL; a missing column still raises.
  EXPECT_EQ(query.FieldText("C051"), "");
  EXPECT_THROW(query.FieldText("C099"), SqlError);
  EXPECT_THROW(query.FieldInt(3), SqlError);
  query.Close();
  EXPECT_TRUE(query.Eof());
  EXPECT_THROW(query.FieldText(0), SqlError);
}

TEST_F(SqlConnectionTest, StatementErrorsPassOnFromOpenAndAreAbsorbedByExecute) {
  SqlReply counted;
  counted.rowCount = 1;
  // T0246 is missing for three statements, then the same insert counts its row.
  server.addRule("T0246", Error(208, "개체 이름 'T0246'이(가) 잘못되었습니다."), 3);
  server.addRule("T0246", counted);
  server.addRule("^update T0500", counted);
  ASSERT_TRUE(database.ConnectDatabase());
  SqlQuery query(connection);

  try {
    OpenQuery(query, "select C005 from T0246");
    FAIL() << "no error";
  } catch (const SqlError& error) {
    EXPECT_EQ(error.nativeError(), 208);
    EXPECT_EQ(std::string(error.what()), "개체 이름 'T0246'이(가) 잘못되었습니다.");
  }
  EXPECT_EQ(ExecuteStatement(query, "insert into T0246 values (1)"), -1);
  const StatementOutcome outcome = RunStatement(query, "insert into T0246 values (1)");
  EXPECT_FALSE(outcome.succeeded);
  EXPECT_EQ(outcome.nativeError, 208);
  EXPECT_EQ(outcome.error, "개체 이름 'T0246'이(가) 잘못되었습니다.");
  EXPECT_EQ(ExecuteStatement(query, "insert into T0246 values (1)"), 1);
  // The same query object goes on working; a statement without rows does not open.
  EXPECT_EQ(ExecuteStatement(query, "update T0500 set C001 = '1'"), 1);
  EXPECT_EQ(ExecuteStatement(query, "create index X on T0500 (C001)"), -1);
  EXPECT_TRUE(RunStatement(query, "create index X on T0500 (C001)").succeeded);
  EXPECT_THROW(OpenQuery(query, "update T0500 set C001 = '1'"), SqlError);
  EXPECT_TRUE(connection.IsOpen());
}

TEST_F(SqlConnectionTest, ExecuteOnAnOpenQueryClosesItsResultFirst) {
  server.addRule("^select", Count(4));
  SqlReply deleted;
  deleted.rowCount = 4;
  server.addRule("^delete", deleted);
  ASSERT_TRUE(database.ConnectDatabase());
  SqlQuery query(connection);
  OpenQuery(query, "select count(*) from T0245");
  EXPECT_EQ(query.FieldInt(0), 4);
  EXPECT_EQ(ExecuteStatement(query, "delete from T0245"), 4);
  EXPECT_FALSE(query.IsOpen());
  EXPECT_TRUE(query.Eof());
}

// A BACKUP reports progress first and its error only at the end; both
// must be read before the statement is judged.
TEST_F(SqlConnectionTest, ErrorAfterProgressMessagesFailsWhileProgressAloneSucceeds) {
  for (const bool fails : {true, false}) {
    SCOPED_TRACE(fails ? "failing backup" : "successful backup");
    server.clearRules();
    server.clearRecords();
    SqlReply reply;
    for (int percent : {10, 50, 100}) {
      reply.infos.push_back({3211, std::to_string(percent) + " percent processed.", 0});
    }
    if (fails) {
      reply.infos.push_back({4035, "Processed 328 pages for database 'TremoLandix'.", 0});
      reply.error = sql::SqlMessage{3013, "BACKUP DATABASE is terminating abnormally.", 16};
    } else {
      reply.infos.push_back({3014, "BACKUP DATABASE successfully processed 330 pages.", 0});
    }
    // The messages arrive apart, as a real backup sends them.
    reply.infoInterval = std::chrono::milliseconds(20);
    server.addRule("^BACKUP DATABASE", reply);
    ASSERT_TRUE(database.ConnectDatabase());
    SqlQuery query(connection);

    const StatementOutcome outcome =
        RunStatement(query, "BACKUP DATABASE TremoLandix TO DISK = N'D:\\Data_Backup\\x.ful' ");
    EXPECT_EQ(outcome.succeeded, !fails);
    EXPECT_EQ(outcome.nativeError, fails ? 3013 : 0);
    EXPECT_EQ(query.Messages().size(), 4U);
    EXPECT_EQ(query.Messages().front(), "10 percent processed.");
    // Every message was consumed: the backup was never cancelled.
    EXPECT_EQ(server.attentions(), 0);
    EXPECT_TRUE(RunStatement(query, "use master").succeeded);
    EXPECT_EQ(server.batches().back().database, "TremoLandix");
    database.DisconnectDatabase();
  }
}

// A hostile table must not take the host's memory: a result beyond the
// limit fails its statement, and the connection goes on working.
TEST_F(SqlConnectionTest, ResultsBeyondTheLimitFailTheStatement) {
  connection.SetResultByteLimit(64 * 1024);
  auto ints = [](std::size_t count) {
    return Rows({{"C001", Type::Int}}, std::vector<std::vector<sql::SqlCell>>(count, {"1"}));
  };
  auto text = [](std::size_t length) {
    return Rows({{"C051", Type::Text}}, {{std::string(length, 'x')}});
  };
  struct Case {
    const char* name;
    SqlReply reply;
    bool fits;
  };
  const std::vector<Case> cases = {
      {"a few rows", ints(100), true},
      {"many rows", ints(5000), false},
      {"a long value", text(20000), true},
      {"a value beyond the limit", text(40000), false},
  };
  ASSERT_TRUE(database.ConnectDatabase());
  SqlQuery query(connection);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    server.clearRules();
    server.addRule("^select C0", c.reply);
    server.addRule("^select count", Count(7));
    if (c.fits) {
      EXPECT_NO_THROW(OpenQuery(query, "select C001 from T0500"));
    } else {
      EXPECT_THROW(OpenQuery(query, "select C001 from T0500"), SqlError);
    }
    OpenQuery(query, "select count(*) from T0245");
    EXPECT_EQ(query.FieldInt(0), 7);
  }
  EXPECT_EQ(server.logins().size(), 1U);
}

// A procedure that prints without end must not fill the memory with its
// messages either; what is dropped never hides the statement's error.
TEST_F(SqlConnectionTest, MessagesAreKeptOnlyUpToALimit) {
  ASSERT_TRUE(database.ConnectDatabase());
  SqlQuery query(connection);
  for (const bool fails : {false, true}) {
    SCOPED_TRACE(fails ? "with an error at the end" : "messages only");
    SqlReply flood;
    for (int i = 0; i < 40; ++i) flood.infos.push_back({50000, std::string(30000, 'm'), 0});
    if (fails)
      flood.error = sql::SqlMessage{3013, "BACKUP DATABASE is terminating abnormally.", 16};
    server.clearRules();
    server.addRule("^Exec", flood);

    const StatementOutcome outcome = RunStatement(query, "Exec PM_KeyPart");
    EXPECT_EQ(outcome.succeeded, !fails);
    EXPECT_EQ(outcome.nativeError, fails ? 3013 : 0);
    std::size_t kept = 0;
    for (const std::string& message : query.Messages()) kept += message.size();
    EXPECT_GT(kept, 0U);
    EXPECT_LE(kept, std::size_t{1024} * 1024);
  }
}

TEST_F(SqlConnectionTest, UseChangesTheDatabaseOfEveryQueryObjectUntilReopened) {
  ASSERT_TRUE(database.ConnectDatabase());
  EXPECT_EQ(connection.CurrentDatabase(), "TremoLandix");
  SqlQuery serviceQuery(connection);
  SqlQuery linkQuery(connection);

  ExecuteStatement(serviceQuery, "use master");
  EXPECT_EQ(connection.CurrentDatabase(), "master");
  EXPECT_EQ(connection.ConnectionDatabase(), "TremoLandix");
  ExecuteStatement(linkQuery, "select 1");
  EXPECT_EQ(server.batches().back().database, "master");

  // A failed "use" leaves the database as it was.
  server.setDatabases({"TremoLandix"});
  EXPECT_EQ(RunStatement(serviceQuery, "use NoSuchDb").nativeError, 911);
  EXPECT_EQ(connection.CurrentDatabase(), "master");

  database.DisconnectDatabase();
  EXPECT_EQ(connection.CurrentDatabase(), "");
  // Implicit opening with the parameters last set, back in the connection database.
  ExecuteStatement(linkQuery, "select 2");
  EXPECT_TRUE(connection.IsOpen());
  EXPECT_EQ(server.batches().back().database, "TremoLandix");
  EXPECT_EQ(connection.CurrentDatabase(), "TremoLandix");
  EXPECT_EQ(server.logins().size(), 2U);
}

TEST_F(SqlConnectionTest, ConnectKeepsAnOpenConnectionAndImplicitOpenUsesTheLastParameters) {
  ASSERT_TRUE(database.ConnectDatabase());
  settings.login = "someone_else";
  EXPECT_TRUE(database.ConnectDatabase());
  EXPECT_EQ(server.logins().size(), 1U);

  database.DisconnectDatabase();
  database.DisconnectDatabase();  // closing a closed connection does nothing
  SqlQuery query(connection);
  ExecuteStatement(query, "select 1");
  ASSERT_EQ(server.logins().size(), 2U);
  EXPECT_EQ(server.logins()[1].user, "quendr");
  EXPECT_EQ(server.logins()[1].password, "secret");
  EXPECT_EQ(server.logins()[1].database, "TremoLandix");

  database.DisconnectDatabase();
  ASSERT_TRUE(database.ConnectDatabase());
  EXPECT_EQ(server.logins().back().user, "someone_else");
}

TEST_F(SqlConnectionTest, FailedConnectionsReturnFalseReleaseEverythingAndRecover) {
  struct Case {
    const char* name;
    void (*breakIt)(sql::ScriptedSqlServer&, Settings&);
    void (*fixIt)(sql::ScriptedSqlServer&, Settings&);
  };
  const std::vector<Case> cases = {
      {"login refused", [](auto& s, auto&) { s.refuseLogins(true); },
       [](auto& s, auto&) { s.refuseLogins(false); }},
      {"unknown database",
       [](auto& s, auto& settings) {
         s.setDatabases({"TremoLandix"});
         settings.connectionDatabase = "Brivellon";
       },
       [](auto&, auto& settings) { settings.connectionDatabase = "TremoLandix"; }},
  };
  SqlReply updated;
  updated.rowCount = 1;
  server.addRule("^update", updated);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.breakIt(server, settings);
    EXPECT_FALSE(database.ConnectDatabase());
    EXPECT_FALSE(connection.IsOpen());
    SqlQuery query(connection);
    EXPECT_THROW(OpenQuery(query, "select 1"), SqlError);
    EXPECT_EQ(ExecuteStatement(query, "update T0500 set C001 = '1'"), -1);
    EXPECT_TRUE(server.waitForActiveConnections(0, seconds(10)));
    c.fixIt(server, settings);
    EXPECT_TRUE(database.ConnectDatabase());
    EXPECT_EQ(ExecuteStatement(query, "update T0500 set C001 = '1'"), 1);
    database.DisconnectDatabase();
  }
}

TEST_F(SqlConnectionTest, ServerDownGivesFalseAndOneTextLogEntry) {
  std::uint16_t deadPort = 0;
  {
    sql::ScriptedSqlServer gone;
    deadPort = gone.port();
  }
  database.SetPortOverride(deadPort);
  for (int i = 0; i < 3; ++i) EXPECT_FALSE(database.ConnectDatabase());
  EXPECT_EQ(FileLogMessages(), std::vector<std::string>{"Database 접속실패!!!"});

  // A refused login is one attempt per call, never a chain of them.
  database.SetPortOverride(server.port());
  server.refuseLogins(true);
  for (int i = 0; i < 3; ++i) EXPECT_FALSE(database.ConnectDatabase());
  EXPECT_EQ(server.logins().size(), 3U);
  EXPECT_EQ(FileLogMessages().size(), 1U);
}

TEST_F(SqlConnectionTest, ConnectionDroppedMidStatementFailsAndTheNextStatementReconnects) {
  SqlReply drop;
  drop.infos.push_back({3211, "10 percent processed.", 0});
  drop.dropConnection = true;
  server.addRule("^BACKUP", drop, 1);
  ASSERT_TRUE(database.ConnectDatabase());
  SqlQuery query(connection);
  ExecuteStatement(query, "use master");

  const StatementOutcome outcome = RunStatement(query, "BACKUP DATABASE TremoLandix TO DISK = 'x'");
  EXPECT_FALSE(outcome.succeeded);
  EXPECT_FALSE(outcome.error.empty());
  EXPECT_FALSE(connection.IsOpen());
  EXPECT_TRUE(server.waitForActiveConnections(0, seconds(10)));

  server.addRule("^select", Count(1));
  OpenQuery(query, "select count(*) from T0245");
  EXPECT_EQ(query.FieldInt(0), 1);
  EXPECT_EQ(server.logins().size(), 2U);
  EXPECT_EQ(server.batches().back().database, "TremoLandix");
  EXPECT_EQ(server.activeConnections(), 1);
}

// A stop cancels the running statement from its own thread: the statement
// fails, a young one is spared when asked, and the connection stays usable.
TEST_F(SqlConnectionTest, CancelFromAnotherThreadFailsTheRunningStatement) {
  SqlReply slow;
  slow.infos.push_back({3211, "10 percent processed.", 0});
  slow.delay = seconds(600);
  server.addRule("^BACKUP", slow);
  server.addRule("^select", Count(1));
  ASSERT_TRUE(database.ConnectDatabase());
  EXPECT_FALSE(connection.CancelRunningStatement());  // nothing runs
  StatementOutcome outcome;
  std::thread running([&] {
    SqlQuery query(connection);
    outcome = RunStatement(query, "BACKUP DATABASE TremoLandix TO DISK = 'x'");
  });
  ASSERT_TRUE(server.waitForBatches(1, seconds(10)));
  EXPECT_FALSE(connection.CancelRunningStatement(seconds(600)));
  bool cancelled = false;
  for (int i = 0; i < 10000 && !cancelled; ++i) {
    cancelled = connection.CancelRunningStatement();
    if (!cancelled) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_TRUE(cancelled);
  running.join();
  EXPECT_FALSE(outcome.succeeded);
  EXPECT_EQ(server.attentions(), 1);
  SqlQuery query(connection);
  OpenQuery(query, "select count(*) from T0245");
  EXPECT_EQ(query.FieldInt(0), 1);
}

// A server that takes the TCP connection and never answers: the open ends by its login timeout,
// or within a moment when a stop cuts it (nothing logged: its outcome is not known), but never
// under a Hold. The abandoned attempt logs off by itself; the next open works again.
TEST_F(SqlConnectionTest, HungLoginEndsByItsTimeoutOrByACut) {
  struct Case {
    const char* name;
    bool cut, held, timedOut;
    std::size_t logLines;
    int moreAttempts = 0;  // while the given-up connect is still out: each fails at once
  };
  const Case cases[] = {
      {"login timeout", false, false, true, 1},
      {"cut by a stop", true, false, false, 0},
      {"held through a cut", true, true, true, 1},
      {"one given-up connect at a time", true, false, false, 1, 4},
  };
  database.SetLoginTimeout(seconds(1));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    textLog.ClearLastFileLogText();
    std::filesystem::remove(dir.file("RazuRarevi.Log"));
    server.hangLogins(true);
    std::unique_ptr<SqlConnection::Hold> hold;
    if (c.held) hold = std::make_unique<SqlConnection::Hold>(connection);
    std::thread stop;
    if (c.cut) {
      stop = std::thread([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        connection.CutConnects(true);
      });
    }
    const auto begun = std::chrono::steady_clock::now();
    EXPECT_FALSE(database.ConnectDatabase());
    const auto took = std::chrono::steady_clock::now() - begun;
    if (stop.joinable()) stop.join();
    EXPECT_LT(took, c.timedOut ? seconds(5) : seconds(1));
    EXPECT_EQ(connection.LastOpenTimedOut(), c.timedOut);
    EXPECT_EQ(connection.TakeCutOpen(), c.cut && !c.held);
    connection.CutConnects(false);
    for (int i = 0; i < c.moreAttempts; ++i) {
      const auto again = std::chrono::steady_clock::now();
      EXPECT_FALSE(database.ConnectDatabase());
      EXPECT_LT(std::chrono::steady_clock::now() - again, std::chrono::milliseconds(200));
    }
    EXPECT_EQ(FileLogMessages().size(), c.logLines);
    hold.reset();
    server.hangLogins(false);
    EXPECT_TRUE(server.waitForActiveConnections(0, seconds(10)));
    for (int i = 0; i < 1000 && connection.ConnectStillOut(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(database.ConnectDatabase());
    database.DisconnectDatabase();
  }
  EXPECT_EQ(server.hungConnections(), 4);
}

TEST_F(SqlConnectionTest, DestroyingAnOpenConnectionLogsOff) {
  {
    SqlConnection other;
    other.SetParams({"(local)", "TremoLandix", "quendr", "secret", server.port()});
    other.Open();
    EXPECT_EQ(other.CurrentDatabase(), "TremoLandix");
    EXPECT_EQ(server.activeConnections(), 1);
  }
  EXPECT_TRUE(server.waitForActiveConnections(0, seconds(10)));
}

}  // namespace
}  // namespace mvx::dbtest
