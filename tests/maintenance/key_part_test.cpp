#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "common/clock.h"
#include "common/report_sink.h"
#include "common/text_log.h"
#include "maintenance/key_part_maintenance.h"
#include "support/sql/scripted_sql_server.h"
#include "support/sql/sql_replies.h"
#include "support/temp_dir.h"

namespace mvx {
namespace {

namespace sql = mvx::testing;
using sql::ProcedureAnswer;
using sql::VarChar;

class RecordingReports final : public ReportSink {
 public:
  void SendReport(std::string_view kind, std::string_view id, std::string_view db,
                  std::string_view code, std::string_view computer) override {
    sent.push_back(std::string(kind) + "|" + std::string(id) + "|" + std::string(db) + "|" +
                   std::string(code) + "|" + std::string(computer));
  }
  std::vector<std::string> sent;
};

const std::string kUse = "use QuendrilaxoMain";
const std::string kRead =
    "select C001,C002,C003,C011,C012,C013,C014,C015,C016,C017,C031,C032,C033,C034,C035,C036,C037,"
    "C038,C039 from QuendrilaxoMain.dbo.T0500 ";
const std::string kUpdate = "update QuendrilaxoMain.dbo.T0500 set";

// A run against the scripted server, on Tuesday 2024-03-19 01:30:05.
class KeyPartTest : public ::testing::Test {
 protected:
  KeyPartTest() {
    settings.serverName = "(Local)";
    settings.login = "quendr";
    settings.password = "secret";
    SlotOne("QuendrilaxoMain");
    settings.databases[1] = "ZoltmarkenShop";
    database.SetPortOverride(server.port());
    serviceTables.SetEcho(
        [this](std::string_view, std::string_view m, bool) { logged.emplace_back(m); });
  }
  void SlotOne(const std::string& name) {
    settings.databases[0] = settings.connectionDatabase = name;
  }

  void Status(sql::SqlCell c001, std::string c002 = "", std::string c003 = "",
              std::string steps = "0000000", std::string procedures = "000000000") {
    server.addRule(sql::kKeyPartStatusRead,
                   sql::KeyPartStatus(c001, c002, c003, steps, procedures));
  }
  bool Run(std::string mode, std::string db = "QuendrilaxoMain", std::string date = "2024-03-19") {
    server.addRule("^Exec PM_", ProcedureAnswer("1"));
    server.addRule("^select C004 from .*SETUP", sql::Rows({VarChar("C004")}, {}));
    return keyParts.RunKeyPartMaintenance(mode, date, db);
  }
  std::vector<std::string> Batches(std::string_view prefix = "") const {
    std::vector<std::string> out;
    for (const std::string& text : server.batchTexts()) {
      if (text.rfind("insert into", 0) != 0 && text.rfind(prefix, 0) == 0) out.push_back(text);
    }
    return out;
  }

  sql::ScriptedSqlServer server;
  sql::TempDir logs;
  ManualClock clock{LocalDateTime::Make(2024, 3, 19, 1, 30, 5)};
  TextLog textLog{logs.dir(), clock};
  Settings settings;
  SqlConnection connection;
  Database database{connection, settings, textLog};
  ServiceTables serviceTables{database};
  SqlQuery workQ{connection};
  SqlQuery openQ{connection};
  RecordingReports reports;
  std::string installationId = "QX-7", computerName = "DBHOST";
  std::vector<std::string> logged;
  KeyPartMaintenance keyParts{settings,      clock,   database,       workQ,       openQ,
                              serviceTables, reports, installationId, computerName};
};

TEST_F(KeyPartTest, GateDecidesFromTheStatusRow) {
  struct Case {
    std::string mode;
    sql::SqlCell c001;
    std::string c002, c003;
    bool runs;
  };
  const Case cases[] = {
      {"1", "3", "2024-03-19", "", true},
      {"1", "2", "", "", false},
      {"1", "1", "", "", false},
      {"1", "0", "", "", false},
      {"1", "", "", "", false},
      {"2", "1", "2024-03-19", "", false},
      {"2", "0", "2024-03-18", "2024-03-19", false},
      {"2", "0", "2024-03-12", "2024-03-18", true},
      {"2", std::nullopt, "", "", true},
      {"3", "3", "", "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode + " " + c.c001.value_or("no row") + " " + c.c002 + " " + c.c003);
    server.clearRules();
    server.clearRecords();
    reports.sent.clear();
    Status(c.c001, c.c002, c.c003);
    EXPECT_EQ(Run(c.mode), c.runs);
    EXPECT_FALSE(connection.IsOpen());
    if (!c.runs) {
      EXPECT_EQ(Batches(), (std::vector<std::string>{kUse, kRead}));
    }
    EXPECT_EQ(reports.sent, c.runs ? std::vector<std::string>{"4|QX-7|QuendrilaxoMain|011|DBHOST"}
                                   : std::vector<std::string>{});
  }
}

// Which procedures a run calls and how it ends; code "" is a run that raised (no end
// statement, report or log line: C001 stays "2").
TEST_F(KeyPartTest, StepsCallTheEnabledProceduresInOrder) {
  struct Case {
    std::string steps, procedures;
    std::vector<std::pair<std::string, sql::SqlReply>> answers;  // ahead of the "1" answers
    std::string calls, code;
    std::vector<std::string> logged;
    std::string slotOne = "QuendrilaxoMain";
  };
  const std::string start = "KeyPart정리 시작!!", done = "KeyPart정리 완료!!!",
                    error = "keyPart 정리 Error!!!";
  const auto stem = [](sql::SqlCell c004) {
    return std::pair{std::string("^select C004"), sql::Rows({VarChar("C004")}, {{c004}})};
  };
  const std::vector<Case> cases{
      {"0000000", "000000000", {}, "", "011", {start, done}},
      {"1010000", "001000000", {}, "T0120B HD|T0120B DB|", "011", {start, done}},
      {"1010000",
       "101000000",
       {{"KeyInit 'HS'", ProcedureAnswer("0")}},
       "KeyInit CS|KeyInit CT|KeyInit HS|",
       "010",
       {start, error}},
      {"0100000",
       "110000000",
       {{"T0120KeyRebuild", ProcedureAnswer(std::nullopt, false)}},
       "KeyInit DS|T0120 DS|",
       "010",
       {start, "T0120 자료정리 Error!!!", error}},
      {"0000001",
       "000000001",
       {{"T0124", ProcedureAnswer(std::nullopt)}},
       "T0124 OT|",
       "010",
       {start, "T0124 자료정리 Fail!!!", error}},
      {"0000001", "000010000", {stem("2")}, "T0120E 2 OT|", "011", {start, done}},
      {"0000001", "000010000", {stem("3")}, "T0120E 1 OT|", "011", {start, done}},
      {"0000001", "000010000", {stem("")}, "T0120E 1 OT|", "011", {start, done}},
      {"0000001", "000001111", {}, "T0122 OT|T0122M OT|T0123 OT|T0124 OT|", "011", {start, done}},
      {"0000001", "000001111", {}, "T0123 OT|T0124 OT|", "011", {start, done}, "ZoltmarkenShop"},
      {"1000000",
       "100000000",
       {{"KeyInit 'CT'", sql::Error(2812, "Could not find it.")}},
       "KeyInit CS|KeyInit CT|",
       "",
       {start}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.steps + " " + c.procedures + " " + c.calls);
    server.clearRules();
    server.clearRecords();
    reports.sent.clear();
    logged.clear();
    SlotOne(c.slotOne);
    Status("3", "", "", c.steps, c.procedures);
    for (const auto& [pattern, reply] : c.answers) server.addRule(pattern, reply);
    if (c.code.empty()) {
      EXPECT_THROW(Run("1"), SqlError);
      EXPECT_TRUE(reports.sent.empty());
    } else {
      EXPECT_TRUE(Run("1"));
      EXPECT_EQ(reports.sent.at(0), "4|QX-7|QuendrilaxoMain|" + c.code + "|DBHOST");
    }
    // "Exec PM_T0120EKeyRebuild '2', 'OT' " reads "T0120E 2 OT|".
    std::string calls;
    for (const std::string& call : Batches("Exec PM_")) {
      calls += std::regex_replace(call.substr(8), std::regex("KeyRebuild|'|,| $"), "") + "|";
    }
    EXPECT_EQ(calls, c.calls);
    EXPECT_EQ(logged, c.logged);
    EXPECT_EQ(Batches(kUpdate + "  C001").size(), c.code.empty() ? 0u : 1u);
  }
  // A code outside the table writes OT's status column.
  EXPECT_TRUE(keyParts.RunKeyPartStep("XX", "QuendrilaxoMain"));
  EXPECT_EQ(Batches(kUpdate).back(),
            kUpdate + "  C027 = '1' , C051 = 'XX: 키파트정리 완료' , C052 = 0, C053 = 0");
}

TEST_F(KeyPartTest, StatementsOfACompletedAndAFailedRun) {
  const std::string stepStart =
      kUpdate +
      " C022 = '2' , C041 = '0', C042 = '0', C043 = '0', C044 = '0', C045 = '0', C046 = '0', "
      "C047 = '0', C048 = '0', C049 = '0' , C051 = 'KeyPart 정리 (DS)' , C052 = 0, C053 = 0";
  const std::vector<std::string> head{
      kUse,
      kRead,
      kUpdate +
          "   C001 = '2' , C003 = '2024-03-19' , C021 = '0', C022 = '0', C023 = '0', C024 = "
          "'0', C025 = '0', C026 = '0', C027 = '0', C041 = '0', C042 = '0', C043 = '0', C044 "
          "= '0', C045 = '0', C046 = '0', C047 = '0', C048 = '0', C049 = '0', C051 = "
          "'KeyPart 정리 시작(QuendrilaxoMain)' , C052 = 0, C053 = 0 , C054 = '2024-03-19 "
          "01:30:05' , C055 = '' ",
      "delete from QuendrilaxoMain.dbo.T0501",
      "select C004 from QuendrilaxoMain.dbo.SETUP where C001 = 'STEM' and C003 = '07' ",
      stepStart,
      kUpdate + " C041 = '2' ,C051 = 'KeyPart (DS) Initialize' ",
      "Exec PM_KeyInit 'DS' ",
      kUpdate + " C041 = '1' ,C051 = 'KeyPart (DS) Initialize 완료' ",
      kUpdate + "  C042 = '2' , C051 = 'T0120 KeyPart (DS) 정리' ",
      "Exec PM_T0120KeyRebuild 'DS' "};
  for (bool fails : {false, true}) {
    server.clearRules();
    server.clearRecords();
    Status("3", "", "", "0100000", "110010000");
    if (fails) server.addRule("PM_T0120KeyRebuild", ProcedureAnswer("0"));
    Run("1");
    std::vector<std::string> expected = head;
    if (!fails) {
      expected.insert(expected.end(),
                      {kUpdate + "  C042 = '1' , C051 = 'T0120 KeyPart (DS) 정리 완료' ",
                       "Exec PM_T0120EKeyRebuild '1', 'DS' ",
                       kUpdate + "  C022 = '1' , C051 = 'DS: 키파트정리 완료' , C052 = 0, C053 = 0",
                       kUpdate + "  C001 = '1' , C002 = '2024-03-19' , C051 = 'KeyPart정리 "
                                 "완료!!!' , C052 = 0, C053 = 0 , C055 = '2024-03-19 01:30:05' "});
    } else {
      expected.insert(
          expected.end(),
          {kUpdate + "  C042 = '0' , C051 = 'T0120 KeyPart (DS) 정리 Error' ",
           kUpdate + "  C022 = '0' , C051 = 'DS: 키파트정리 Error' , C052 = 0, C053 = 0",
           kUpdate + "  C001 = '0' , C051 = 'KeyPart정리 Error!!!' , C055 = "
                     "'2024-03-19 01:30:05' "});
    }
    EXPECT_EQ(Batches(), expected);
  }
  server.clearRules();
  server.clearRecords();
  Status("3", "", "", "1000000", "100000000");
  server.addRule("PM_KeyInit 'HS'", ProcedureAnswer("0"));
  Run("1");
  EXPECT_EQ(Batches(kUpdate + " C041")[1],
            kUpdate + " C041 = '0' ,C051 = 'KeyPart (HS) Initialize Error' ");
}

// The activity row closes the connection; it reopens in slot 1's database. The name also
// needs brackets in SQL and a doubled quote in the progress text.
TEST_F(KeyPartTest, SlotTwoDatabaseRunsItsProceduresInItsOwnDatabase) {
  const std::string name = "Zoltmarken's Shop";
  settings.databases[1] = name;
  Status("3", "", "", "1000000", "100000000");
  EXPECT_TRUE(Run("1", name));
  int calls = 0;
  for (const sql::SqlBatch& batch : server.batches()) {
    if (batch.text.rfind("Exec ", 0) != 0) continue;
    ++calls;
    EXPECT_EQ(batch.database, name) << batch.text;
  }
  EXPECT_EQ(calls, 6);
  EXPECT_EQ(Batches("use [Zoltmarken's Shop]").size(), 2u);  // the run's own, and after the row
  EXPECT_NE(Batches("update [Zoltmarken's Shop].dbo.T0500 set   C001 = '2' ")
                .at(0)
                .find("C051 = 'KeyPart 정리 시작(Zoltmarken''s Shop)' "),
            std::string::npos);
}

}  // namespace
}  // namespace mvx
