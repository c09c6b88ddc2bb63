#include <gtest/gtest.h>

#include <sstream>

#include "common/ansi_codec.h"
#include "common/profile_file.h"
#include "common/scramble.h"
#include "service/operator_command.h"
#include "support/sql/scripted_sql_server.h"
#include "support/sql/sql_replies.h"
#include "support/temp_dir.h"

namespace mvx {
namespace {

namespace sql = mvx::testing;
using sql::Error;
using sql::Rows;
using Type = sql::SqlColumn::Type;

constexpr const char* kFullGuid = "6F9619FF-8B86-D011-B42D-00C04FC964FF";

// The columns of RESTORE HEADERONLY the commands read, among others a server sends.
sql::SqlReply Header(std::string database, int type, std::string setGuid, std::string baseGuid) {
  return Rows({{"BackupName"},
               {"DatabaseName"},
               {"BackupType", Type::Int},
               {"BackupSetGUID"},
               {"DifferentialBaseGUID"}},
              {{"x 백업", database, std::to_string(type), setGuid, baseGuid}});
}

sql::SqlReply Restored() {
  sql::SqlReply reply;
  for (int percent : {5, 50, 100}) {
    reply.infos.push_back({3211, std::to_string(percent) + " percent processed.", 0});
  }
  reply.infos.push_back({3014, "RESTORE DATABASE successfully processed 361 pages.", 0});
  return reply;
}

class RestoreCommandTest : public ::testing::Test {
 protected:
  RestoreCommandTest() {
    Put("DBServer", "Name", "127.0.0.1");
    Put("DBServer", "BackupDB1", "TremoLandix");
    Put("DBServer", "BackupDB2", "Other");
    Put("RazuRarevi", "BKPath", folder);
    std::filesystem::create_directory(backups.file("백업"));
    for (const char* name : {"TremoLandix(20240308).ful", "TremoLandix(20240312).inc",
                             "TremoLandix(20240301).ful", "Other(20240310).ful"}) {
      backups.write("백업/" + std::string(name), "backup");
    }
  }

  // A server holding none of the restored databases, whose backups are the folder's files.
  void Serve() {
    server.addRule("^select name from master.dbo.sysdatabases", Rows({{"name"}}, {}));
    server.addRule("HEADERONLY.*TremoLandix\\(20240308\\)",
                   Header("TremoLandix", 1, kFullGuid, ""));
    server.addRule("HEADERONLY.*TremoLandix\\(20240312\\)",
                   Header("TremoLandix", 5, "A1", kFullGuid));
    server.addRule("HEADERONLY.*Other", Header("Other", 1, "B1", ""));
    server.addRule("FILELISTONLY", Rows({{"LogicalName"}, {"PhysicalName"}, {"Type"}},
                                        {{"Tl", "D:\\Tl.mdf", "D"},
                                         {"Tl_Log", "D:\\Tl_log.ldf", "L"},
                                         {"Tl_2", "D:\\Tl_2.ndf", "D"}}));
    server.addRule("SERVERPROPERTY", Rows({{"DataPath"}, {"LogPath"}},
                                          {{"/var/opt/mssql/data/", "/var/opt/mssql/log"}}));
    server.addRule("^RESTORE DATABASE", Restored());
  }

  void Put(const std::string& section, const std::string& key, const std::string& value) {
    ProfileFile(exe.file("RazuRarevi.ini"))
        .WriteString(section, ScrambleValue(key), ScrambleValue(ToAnsi(value)));
  }

  struct Outcome {
    int status;
    std::string out, err;
  };
  Outcome Run(bool drill, const std::vector<std::string>& args) {
    ServiceOptions options;
    options.exeDir = exe.dir();
    options.databasePort = server.port();
    std::ostringstream out, err;
    const int status = drill ? RunRestoreTestCommand(args, options, clock, out, err)
                             : RunRestoreCommand(args, options, clock, out, err);
    return {status, out.str(), err.str()};
  }
  std::string File(const std::string& name) const { return folder + "\\" + name; }
  std::string FromDisk(const std::string& name) const {
    return " FROM DISK = N'" + File(name) + "'";
  }

  sql::ScriptedSqlServer server;
  sql::TempDir exe;
  sql::TempDir backups;
  std::string folder = backups.file("백업");
  ManualClock clock{LocalDateTime::Make(2024, 3, 15, 18, 0)};
};

TEST_F(RestoreCommandTest, RestoreSendsTheCheckedChain) {
  const std::string exists = "select name from master.dbo.sysdatabases where name = N'";
  const std::string fullHeader = "RESTORE HEADERONLY" + FromDisk("TremoLandix(20240308).ful");
  const std::string incHeader = "RESTORE HEADERONLY" + FromDisk("TremoLandix(20240312).inc");
  const std::string full = "RESTORE DATABASE [TremoLandix]" +
                           FromDisk("TremoLandix(20240308).ful") + " WITH NORECOVERY, STATS = 5";
  const std::string inc = "RESTORE DATABASE [TremoLandix]" + FromDisk("TremoLandix(20240312).inc") +
                          " WITH RECOVERY, STATS = 5";
  const std::string copyMoves =
      ", MOVE N'Tl' TO N'/var/opt/mssql/data/Copy.mdf', MOVE N'Tl_Log' TO "
      "N'/var/opt/mssql/log/Copy_log.ldf', MOVE N'Tl_2' TO N'/var/opt/mssql/data/Copy_2.ndf'";
  sql::SqlReply existing = Rows({{"name"}}, {{"TremoLandix"}});
  sql::SqlReply otherFull = Header("TremoLandix", 1, "C0FFEE", "");
  sql::SqlReply missing = Error(3201, "Cannot open backup device. Operating system error 2.");
  sql::SqlReply refused = Restored();
  refused.error = sql::SqlMessage{3159, "The tail of the log has not been backed up.", 16};

  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::vector<std::pair<std::string, sql::SqlReply>> rules;  // before the fixture's
    int status;
    std::vector<std::string> sent;
    std::string said;  // in the output or the error text
  };
  const std::vector<Case> cases = {
      {"without --run nothing is sent", {"TremoLandix"}, {}, 0, {}, "  " + full + "\n  " + inc},
      {"an older day",
       {"TremoLandix", "--date", "2024-03-05"},
       {},
       0,
       {},
       "RESTORE DATABASE [TremoLandix]" + FromDisk("TremoLandix(20240301).ful") +
           " WITH RECOVERY, STATS = 5\n"},
      {"restored",
       {"TremoLandix", "--run"},
       {},
       0,
       {exists + "TremoLandix'", fullHeader, incHeader, full, inc},
       "progress: 5% 50% 100%"},
      {"next to the original",
       {"TremoLandix", "--run", "--as", "Copy"},
       {},
       0,
       {exists + "Copy'", fullHeader, incHeader,
        "RESTORE FILELISTONLY" + FromDisk("TremoLandix(20240308).ful"),
        "select cast(SERVERPROPERTY('InstanceDefaultDataPath') as nvarchar(4000)) as DataPath, "
        "cast(SERVERPROPERTY('InstanceDefaultLogPath') as nvarchar(4000)) as LogPath",
        "RESTORE DATABASE [Copy]" + FromDisk("TremoLandix(20240308).ful") +
            " WITH NORECOVERY, STATS = 5" + copyMoves,
        "RESTORE DATABASE [Copy]" + FromDisk("TremoLandix(20240312).inc") +
            " WITH RECOVERY, STATS = 5"},
       "Restored Copy."},
      {"an existing database needs --replace",
       {"TremoLandix", "--run"},
       {{"sysdatabases", existing}},
       2,
       {exists + "TremoLandix'"},
       "--replace"},
      {"over an existing database",
       {"TremoLandix", "--run", "--replace"},
       {{"sysdatabases", existing}},
       0,
       {exists + "TremoLandix'", fullHeader, incHeader, full + ", REPLACE", inc},
       "Restored"},
      {"a differential of another full",
       {"TremoLandix", "--run"},
       {{"HEADERONLY.*\\.ful", otherFull}},
       2,
       {exists + "TremoLandix'", fullHeader, incHeader},
       "belongs to another full backup"},
      {"another database's backup",
       {"Other", "--run", "--as", "TremoLandix", "--replace"},
       {{"HEADERONLY", Header("Brivellon", 1, "B1", "")}},
       2,
       {exists + "TremoLandix'", "RESTORE HEADERONLY" + FromDisk("Other(20240310).ful")},
       "not a full backup (type 1) of Other"},
      {"a file the server cannot open",
       {"TremoLandix", "--run"},
       {{"HEADERONLY", missing}},
       1,
       {exists + "TremoLandix'", fullHeader},
       "Operating system error 2"},
      {"a refused restore",
       {"TremoLandix", "--run"},
       {{"^RESTORE DATABASE", refused}},
       1,
       {exists + "TremoLandix'", fullHeader, incHeader, full},
       "tail of the log"},
      {"no backup of that database", {"Gone", "--run"}, {}, 2, {}, "no full backup of Gone"},
      {"a usage error", {"TremoLandix", "--date", "2024-02-30"}, {}, 2, {}, "usage:"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    server.clearRecords();
    server.clearRules();
    for (const auto& [pattern, reply] : c.rules) server.addRule(pattern, reply);
    Serve();
    const Outcome o = Run(false, c.args);
    EXPECT_EQ(o.status, c.status) << o.err;
    EXPECT_EQ(server.batchTexts(), c.sent);
    EXPECT_NE((o.out + o.err).find(c.said), std::string::npos) << o.out << o.err;
  }
}

// Every database is restored as a copy, checked and dropped; one row per database lands in the
// slot-1 database's activity table, and the exit status says whether all passed.
TEST_F(RestoreCommandTest, RestoreTestChecksAndDropsACopyOfEachDatabase) {
  Put("DBServer", "BackupDB3", "Gone");
  server.addRule("^DBCC CHECKDB \\(\\[Other_RestoreTest\\]\\)",
                 Error(8928, "Object ID 5, index ID 1: Page (1:77) could not be processed."));
  // The copy of TremoLandix exists from its restore on, until it is dropped.
  server.addRule("where name = N'TremoLandix_RestoreTest'", Rows({{"name"}}, {}), 1);
  server.addRule("where name = N'TremoLandix_RestoreTest'", Rows({{"name"}}, {}), 1);
  server.addRule("where name = N'TremoLandix_RestoreTest'",
                 Rows({{"name"}}, {{"TremoLandix_RestoreTest"}}), 1);
  Serve();
  clock.SetStepMilliseconds(10);

  const Outcome o = Run(true, {});

  EXPECT_EQ(o.status, 1);
  const std::vector<std::string> batches = server.batchTexts();
  const std::string copy = "TremoLandix_RestoreTest";
  const std::vector<std::string> tremoLandix = {
      "select name from master.dbo.sysdatabases where name = N'" + copy + "'",
      "select name from master.dbo.sysdatabases where name = N'" + copy + "'",
      "RESTORE HEADERONLY" + FromDisk("TremoLandix(20240308).ful"),
      "RESTORE HEADERONLY" + FromDisk("TremoLandix(20240312).inc"),
      "RESTORE FILELISTONLY" + FromDisk("TremoLandix(20240308).ful"),
      std::string(batches.at(5)),
      "RESTORE DATABASE [" + copy + "]" + FromDisk("TremoLandix(20240308).ful") +
          " WITH NORECOVERY, STATS = 5, MOVE N'Tl' TO N'/var/opt/mssql/data/" + copy +
          ".mdf', MOVE N'Tl_Log' TO N'/var/opt/mssql/log/" + copy +
          "_log.ldf', MOVE N'Tl_2' TO N'/var/opt/mssql/data/" + copy + "_2.ndf'",
      "RESTORE DATABASE [" + copy + "]" + FromDisk("TremoLandix(20240312).inc") +
          " WITH RECOVERY, STATS = 5",
      "DBCC CHECKDB ([" + copy + "]) WITH NO_INFOMSGS",
      "select name from master.dbo.sysdatabases where name = N'" + copy + "'",
      "DROP DATABASE [" + copy + "]",
  };
  ASSERT_GT(batches.size(), tremoLandix.size());
  EXPECT_EQ(std::vector<std::string>(batches.begin(), batches.begin() + 11), tremoLandix);
  std::vector<std::string> rows;
  for (const sql::SqlBatch& batch : server.batches()) {
    if (batch.text.rfind("insert into", 0) != 0) continue;
    EXPECT_EQ(batch.database, "TremoLandix");
    rows.push_back(batch.text);
  }
  const std::string insert = "insert into T0245 (C002,C003,C004,C005) values ( getDate() ,'";
  EXPECT_EQ(rows,
            (std::vector<std::string>{insert + "TremoLandix' ,'Restore Test 완료' ,'RazuRarevi' )",
                                      insert + "Other' ,'Restore Test Fail!!!' ,'RazuRarevi' )",
                                      insert + "Gone' ,'Restore Test Fail!!!' ,'RazuRarevi' )"}));
  EXPECT_NE(std::find(batches.begin(), batches.end(),
                      "DBCC CHECKDB ([Other_RestoreTest]) WITH NO_INFOMSGS"),
            batches.end());
  const std::string log = FromAnsi(exe.read("RazuRarevi.Log"));
  for (const std::string expected :
       {"Restore Test 완료 TremoLandix: TremoLandix(20240308).ful + TremoLandix(20240312).inc",
        "Restore Test Fail!!! Other: Other(20240310).ful: DBCC CHECKDB reports: Object ID 5",
        "Restore Test Fail!!! Gone: no chain: no full backup of Gone"}) {
    EXPECT_NE(log.find(expected), std::string::npos) << expected << "\n" << log;
  }

  EXPECT_EQ(Run(true, {"TremoLandix"}).status, 0);
  EXPECT_EQ(Run(true, {"a", "b"}).status, 2);
}

}  // namespace
}  // namespace mvx
