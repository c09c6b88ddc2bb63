#include <gtest/gtest.h>

#include <atomic>
#include <regex>
#include <string>
#include <tuple>
#include <vector>

#include "backup/backup_test_support.h"
#include "db/db_test_support.h"
#include "maintenance/key_part_maintenance.h"

namespace mvx {
namespace {

namespace sql = mvx::testing;
using backuptest::Report;
using sql::ProcedureAnswer;
using Statements = std::vector<std::string>;

const std::string kUse = "use QuendrilaxoMain";
const std::string kRead =
    "select C001,C002,C003,C011,C012,C013,C014,C015,C016,C017,C031,C032,C033,C034,C035,C036,C037,"
    "C038,C039 from QuendrilaxoMain.dbo.T0500 ";
const std::string kUpdate = "update QuendrilaxoMain.dbo.T0500 set";

// A run against the scripted server, on Tuesday 2024-03-19 01:30:05.
class KeyPartTest : public dbtest::DbTest {
 protected:
  KeyPartTest() {
    clock.Set(LocalDateTime::Make(2024, 3, 19, 1, 30, 5));
    SlotOne("QuendrilaxoMain");
    settings.databases[1] = "ZoltmarkenShop";
    serviceTables.SetEcho([this](std::string_view, std::string_view m, bool) {
      logged.emplace_back(m);
      if (m == stopAtLine) stop = true;
    });
  }
  void SlotOne(const std::string& name) {
    settings.databases[0] = settings.connectionDatabase = name;
  }

  // Starts over with nothing recorded, and this status row.
  void Status(sql::SqlCell c001, std::string c002 = "", std::string c003 = "",
              std::string steps = "0000000", std::string procedures = "000000000") {
    server.clearRules();
    server.clearRecords();
    reports.sent.clear();
    logged.clear();
    server.addRule(sql::kKeyPartStatusRead,
                   sql::KeyPartStatus(c001, c002, c003, steps, procedures));
  }
  bool Run(std::string mode, std::string db = "QuendrilaxoMain", std::string date = "2024-03-19") {
    server.addRule("^Exec PM_", ProcedureAnswer("1"));
    server.addRule("^select C004 from .*SETUP", sql::Rows({sql::VarChar("C004")}, {}));
    return keyParts.RunKeyPartMaintenance(mode, date, db);
  }
  Statements Batches(std::string_view prefix = "") const {
    Statements out;
    for (const std::string& text : server.batchTexts()) {
      if (text.rfind("insert into", 0) != 0 && text.rfind(prefix, 0) == 0) out.push_back(text);
    }
    return out;
  }
  std::vector<Report> Sent(const std::string& code) const {
    return {{"4", installationId, "QuendrilaxoMain", code, computerName}};
  }

  ServiceTables serviceTables{database};
  SqlQuery workQ{connection}, openQ{connection};
  backuptest::RecordingReports reports;
  std::string installationId = "QX-7", computerName = "DBHOST";
  std::vector<std::string> logged;
  std::atomic<bool> stop{false};
  std::string stopAtLine;  // an activity row that brings the stop request
  KeyPartMaintenance keyParts{settings,      clock,   database,       workQ,        openQ,
                              serviceTables, reports, installationId, computerName, stop};
};

TEST_F(KeyPartTest, GateDecidesFromTheStatusRow) {
  // Mode, and C001 to C003 of the status row.
  const std::tuple<std::string, sql::SqlCell, std::string, std::string, bool> cases[] = {
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
  for (const auto& [mode, c001, c002, c003, runs] : cases) {
    SCOPED_TRACE(mode + " " + c001.value_or("no row") + " " + c002 + " " + c003);
    Status(c001, c002, c003);
    EXPECT_EQ(Run(mode), runs);
    EXPECT_FALSE(connection.IsOpen());
    if (!runs) {
      EXPECT_EQ(Batches(), (Statements{kUse, kRead}));
    }
    EXPECT_EQ(reports.sent, runs ? Sent("011") : std::vector<Report>{});
  }
}

// Which procedures a run calls and how it ends. Every run logs its start, then its end, or the
// failing procedure's line (if any) and the error line; code "" is a run that raised (no end
// statement, report or further log line: C001 stays "2").
TEST_F(KeyPartTest, StepsCallTheEnabledProceduresInOrder) {
  using Answers = std::vector<std::pair<std::string, sql::SqlReply>>;  // ahead of the "1" answers
  struct Case {
    std::string steps, procedures, calls, code, failureLine = "";
    Answers answers = {};
    std::string slotOne = "QuendrilaxoMain";
  };
  const auto answer = [](std::string pattern, sql::SqlReply reply) {
    return Answers{{std::move(pattern), std::move(reply)}};
  };
  const auto stem = [&](sql::SqlCell c004) {
    return answer("^select C004", sql::Rows({sql::VarChar("C004")}, {{c004}}));
  };
  const std::vector<Case> cases{
      {"0000000", "000000000", "", "011"},
      {"1010000", "001000000", "T0120B HD|T0120B DB|", "011"},
      {"0100000", "110000000", "KeyInit DS|T0120 DS|", "010", "T0120 자료정리 Error!!!",
       answer("T0120KeyRebuild", ProcedureAnswer(std::nullopt, false))},
      {"0000001", "000000001", "T0124 OT|", "010", "T0124 자료정리 Fail!!!",
       answer("T0124", ProcedureAnswer(std::nullopt))},
      {"0000001", "000010000", "T0120E 2 OT|", "011", "", stem("2")},
      {"0000001", "000010000", "T0120E 1 OT|", "011", "", stem("3")},
      {"0000001", "000010000", "T0120E 1 OT|", "011", "", stem("")},
      {"0000001", "000001111", "T0122 OT|T0122M OT|T0123 OT|T0124 OT|", "011"},
      {"0000001", "000001111", "T0123 OT|T0124 OT|", "011", "", {}, "ZoltmarkenShop"},
      {"1000000", "100000000", "KeyInit CS|KeyInit CT|", "", "",
       answer("KeyInit 'CT'", sql::Error(2812, "Could not find it."))},
      {"1010000", "101000000", "KeyInit CS|KeyInit CT|KeyInit HS|", "010", "",
       answer("KeyInit 'HS'", ProcedureAnswer("0"))},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.steps + " " + c.procedures + " " + c.calls);
    Status("3", "", "", c.steps, c.procedures);
    SlotOne(c.slotOne);
    for (const auto& [pattern, reply] : c.answers) server.addRule(pattern, reply);
    if (c.code.empty()) {
      EXPECT_THROW(Run("1"), SqlError);
    } else {
      EXPECT_TRUE(Run("1"));
    }
    EXPECT_EQ(reports.sent, c.code.empty() ? std::vector<Report>{} : Sent(c.code));
    // "Exec PM_T0120EKeyRebuild '2', 'OT' " reads "T0120E 2 OT|".
    std::string calls;
    for (const std::string& call : Batches("Exec PM_")) {
      calls += std::regex_replace(call.substr(8), std::regex("KeyRebuild|'|,| $"), "") + "|";
    }
    EXPECT_EQ(calls, c.calls);
    std::vector<std::string> lines{"KeyPart정리 시작!!"};
    if (c.code == "011") lines.push_back("KeyPart정리 완료!!!");
    if (!c.failureLine.empty()) lines.push_back(c.failureLine);
    if (c.code == "010") lines.push_back("keyPart 정리 Error!!!");
    EXPECT_EQ(logged, lines);
    EXPECT_EQ(Batches(kUpdate + "  C001").size(), c.code.empty() ? 0u : 1u);
  }
  // The last row's failed initialisation names the code that failed, not the step's.
  EXPECT_EQ(Batches(kUpdate + " C041"),
            (Statements{kUpdate + " C041 = '2' ,C051 = 'KeyPart (HD) Initialize' ",
                        kUpdate + " C041 = '0' ,C051 = 'KeyPart (HS) Initialize Error' "}));
  // A code outside the table writes OT's status column.
  EXPECT_TRUE(keyParts.RunKeyPartStep("XX", "QuendrilaxoMain"));
  EXPECT_EQ(Batches(kUpdate).back(),
            kUpdate + "  C027 = '1' , C051 = 'XX: 키파트정리 완료' , C052 = 0, C053 = 0");
}

TEST_F(KeyPartTest, StatementsOfACompletedAndAFailedRun) {
  const Statements head{
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
      kUpdate +
          " C022 = '2' , C041 = '0', C042 = '0', C043 = '0', C044 = '0', C045 = '0', C046 = "
          "'0', C047 = '0', C048 = '0', C049 = '0' , C051 = 'KeyPart 정리 (DS)' , C052 = 0, "
          "C053 = 0",
      kUpdate + " C041 = '2' ,C051 = 'KeyPart (DS) Initialize' ",
      "Exec PM_KeyInit 'DS' ",
      kUpdate + " C041 = '1' ,C051 = 'KeyPart (DS) Initialize 완료' ",
      kUpdate + "  C042 = '2' , C051 = 'T0120 KeyPart (DS) 정리' ",
      "Exec PM_T0120KeyRebuild 'DS' "};
  const Statements completed{
      kUpdate + "  C042 = '1' , C051 = 'T0120 KeyPart (DS) 정리 완료' ",
      "Exec PM_T0120EKeyRebuild '1', 'DS' ",
      kUpdate + "  C022 = '1' , C051 = 'DS: 키파트정리 완료' , C052 = 0, C053 = 0",
      kUpdate +
          "  C001 = '1' , C002 = '2024-03-19' , C051 = 'KeyPart정리 완료!!!' , C052 = 0, "
          "C053 = 0 , C055 = '2024-03-19 01:30:05' "};
  const Statements failed{
      kUpdate + "  C042 = '0' , C051 = 'T0120 KeyPart (DS) 정리 Error' ",
      kUpdate + "  C022 = '0' , C051 = 'DS: 키파트정리 Error' , C052 = 0, C053 = 0",
      kUpdate + "  C001 = '0' , C051 = 'KeyPart정리 Error!!!' , C055 = '2024-03-19 01:30:05' "};
  for (const Statements* tail : {&completed, &failed}) {
    Status("3", "", "", "0100000", "110010000");
    if (tail == &failed) server.addRule("PM_T0120KeyRebuild", ProcedureAnswer("0"));
    Run("1");
    Statements expected = head;
    expected.insert(expected.end(), tail->begin(), tail->end());
    EXPECT_EQ(Batches(), expected);
  }
}

// A stop ends the run at its next step code or procedure call as a call that raised does (C001
// "2", no end statement, row or report), and closes the connection; before the start
// bookkeeping it writes nothing. (A stop during a call: the agent's process test.)
TEST_F(KeyPartTest, StopEndsTheRunAtItsNextSafePoint) {
  for (const bool beforeTheRun : {true, false}) {
    SCOPED_TRACE(beforeTheRun);
    Status("3", "", "", "1010000", "101000000");
    stop = beforeTheRun;
    stopAtLine = "KeyPart정리 시작!!";
    EXPECT_EQ(Run("1"), !beforeTheRun);
    EXPECT_FALSE(connection.IsOpen());
    EXPECT_TRUE(reports.sent.empty());
    EXPECT_EQ(logged, beforeTheRun ? Statements{} : Statements{stopAtLine});
    EXPECT_TRUE(Batches("Exec PM_").empty());
    EXPECT_EQ(Batches(kUpdate).size(), beforeTheRun ? 0u : 1u);  // the run's start
  }
}

// The activity row closes the connection; it reopens in slot 1's database. The name also
// needs brackets in SQL and a doubled quote in the progress text.
TEST_F(KeyPartTest, SlotTwoDatabaseRunsItsProceduresInItsOwnDatabase) {
  const std::string name = "Zoltmarken's Shop";
  settings.databases[1] = name;
  Status("3", "", "", "1000000", "100000000");
  EXPECT_TRUE(Run("1", name));
  Statements callDatabases;
  for (const sql::SqlBatch& batch : server.batches()) {
    if (batch.text.rfind("Exec ", 0) == 0) callDatabases.push_back(batch.database);
  }
  EXPECT_EQ(callDatabases, Statements(6, name));
  EXPECT_EQ(Batches("use [Zoltmarken's Shop]").size(), 2u);  // the run's own, and after the row
  EXPECT_NE(Batches("update [Zoltmarken's Shop].dbo.T0500 set   C001 = '2' ")
                .at(0)
                .find("C051 = 'KeyPart 정리 시작(Zoltmarken''s Shop)' "),
            std::string::npos);
}

}  // namespace
}  // namespace mvx
