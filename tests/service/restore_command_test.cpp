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
using sql::Rows;

// The columns of RESTORE HEADERONLY that the commands read.
sql::SqlReply Header(std::string database, std::string type, std::string set, std::string base) {
  using Type = sql::SqlColumn::Type;
  return Rows(
      {{"DatabaseName"}, {"BackupType", Type::Int}, {"BackupSetGUID"}, {"DifferentialBaseGUID"}},
      {{database, type, set, base}});
}

class RestoreCommandTest : public ::testing::Test {
 protected:
  RestoreCommandTest() {
    Put("DBServer", "Name", "127.0.0.1");
    Put("DBServer", "BackupDB1", "TremoLandix");
    Put("DBServer", "BackupDB2", "Other");
    Put("RazuRarevi", "BKPath", folder);
    std::filesystem::create_directory(folder);
    for (const char* name : {"TremoLandix(20240308).ful", "TremoLandix(20240312).inc",
                             "TremoLandix(20240301).ful", "Other(20240310).ful"}) {
      backups.write("set/" + std::string(name), "backup");
    }
  }

  // A server holding none of the restored databases, whose backups are the folder's files.
  void Serve() {
    server.addRule("^select name from master.dbo.sysdatabases", Rows({{"name"}}, {}));
    server.addRule("HEADERONLY.*TremoLandix\\(20240308\\)", Header("TremoLandix", "1", "F1", ""));
    server.addRule("HEADERONLY.*TremoLandix\\(20240312\\)", Header("TremoLandix", "5", "D1", "f1"));
    server.addRule("HEADERONLY.*Other", Header("Other", "1", "B1", ""));
    server.addRule("FILELISTONLY", Rows({{"LogicalName"}, {"PhysicalName"}, {"Type"}},
                                        {{"Tl", "D:\\Tl.mdf", "D"},
                                         {"Tl_Log", "D:\\Tl_log.ldf", "L"},
                                         {"Tl_2", "D:\\Tl_2.ndf", "D"}}));
    server.addRule("SERVERPROPERTY", Rows({{"DataPath"}, {"LogPath"}},
                                          {{"/var/opt/mssql/data/", "/var/opt/mssql/log"}}));
    server.addRule("^RESTORE DATABASE", restored);
  }

  void Put(const std::string& section, const std::string& key, const std::string& value) {
    ProfileFile(exe.file("RazuRarevi.ini"))
        .WriteString(section, ScrambleValue(key), ScrambleValue(ToAnsi(value)));
  }

  // The command's exit status, and its output and error text together.
  std::pair<int, std::string> Run(bool drill, const std::string& words) {
    std::istringstream split(words);
    std::vector<std::string> args;
    for (std::string word; split >> word;) args.push_back(word);
    ServiceOptions options;
    options.exeDir = exe.dir();
    options.databasePort = server.port();
    std::ostringstream out;
    const int status = drill ? RunRestoreTestCommand(args, options, clock, out, out)
                             : RunRestoreCommand(args, options, clock, out, out);
    return {status, Short(out.str())};
  }
  // File paths shortened to their names.
  std::string Short(std::string text) const {
    for (std::size_t at; (at = text.find(folder + "\\")) != std::string::npos;) {
      text.erase(at, folder.size() + 1);
    }
    return text;
  }
  // The statements sent but the activity rows, separated by "|".
  std::string Sent() const {
    std::string sent;
    for (const std::string& text : server.batchTexts()) {
      if (text.rfind("insert into", 0) != 0) sent += (sent.empty() ? "" : "|") + Short(text);
    }
    return sent;
  }

  sql::ScriptedSqlServer server;
  sql::TempDir exe;
  sql::TempDir backups;
  std::string folder = backups.file("set");
  sql::SqlReply restored{.infos = {{3211, "5 percent processed."},
                                   {3211, "50 percent processed."},
                                   {3211, "100 percent processed."},
                                   {3014, "RESTORE DATABASE successfully processed 361 pages."}}};
  ManualClock clock{LocalDateTime::Make(2024, 3, 15, 18, 0)};
};

const std::string kExists = "select name from master.dbo.sysdatabases where name = N'";
const std::string kHeaders =
    "RESTORE HEADERONLY FROM DISK = N'TremoLandix(20240308).ful'|"
    "RESTORE HEADERONLY FROM DISK = N'TremoLandix(20240312).inc'";
const std::string kFolders =
    "select cast(SERVERPROPERTY('InstanceDefaultDataPath') as nvarchar(4000)) as DataPath, "
    "cast(SERVERPROPERTY('InstanceDefaultLogPath') as nvarchar(4000)) as LogPath";
std::string RestoreFull(const std::string& target) {
  return "RESTORE DATABASE [" + target +
         "] FROM DISK = N'TremoLandix(20240308).ful' WITH NORECOVERY, STATS = 5";
}
std::string RestoreDifferential(const std::string& target) {
  return "RESTORE DATABASE [" + target +
         "] FROM DISK = N'TremoLandix(20240312).inc' WITH RECOVERY, STATS = 5";
}
std::string Moves(const std::string& to) {
  return ", MOVE N'Tl' TO N'/var/opt/mssql/data/" + to + ".mdf', MOVE N'Tl_Log' TO " +
         "N'/var/opt/mssql/log/" + to + "_log.ldf', MOVE N'Tl_2' TO N'/var/opt/mssql/data/" + to +
         "_2.ndf'";
}

TEST_F(RestoreCommandTest, RestoreSendsTheCheckedChain) {
  const std::string full = RestoreFull("TremoLandix");
  const std::string inc = RestoreDifferential("TremoLandix");
  const std::string start = kExists + "TremoLandix'|" + kHeaders;
  sql::SqlReply refused = restored;
  refused.error = sql::SqlMessage{3159, "The tail of the log has not been backed up.", 16};

  struct Case {
    std::string words;
    std::string pattern;  // a rule before the fixture's
    sql::SqlReply reply;
    int status;
    std::string sent;
    std::string said;  // in the output or the error text
  };
  const std::vector<Case> cases = {
      {"TremoLandix", "", {}, 0, "", "\n  " + full + "\n  " + inc + "\n"},
      {"TremoLandix --date 2024-03-05", "", {}, 0, "", "TremoLandix(20240301).ful' WITH RECOVERY"},
      {"TremoLandix --run", "", {}, 0, start + "|" + full + "|" + inc, "progress: 5% 50% 100%"},
      {"TremoLandix --run --as Copy",
       "",
       {},
       0,
       kExists + "Copy'|" + kHeaders +
           "|RESTORE FILELISTONLY FROM DISK = N'TremoLandix(20240308).ful'|" + kFolders + "|" +
           RestoreFull("Copy") + Moves("Copy") + "|" + RestoreDifferential("Copy"),
       "Restored Copy."},
      {"TremoLandix --run", "sysdatabases", Rows({{"name"}}, {{"TremoLandix"}}), 2,
       kExists + "TremoLandix'", "Add --replace"},
      {"TremoLandix --run --replace", "sysdatabases", Rows({{"name"}}, {{"TremoLandix"}}), 0,
       start + "|" + full + ", REPLACE|" + inc, "Restored"},
      {"TremoLandix --run", "HEADERONLY.*\\.ful", Header("TremoLandix", "1", "C0FFEE", ""), 2,
       start, "belongs to another full backup"},
      {"Other --run --as TremoLandix --replace", "HEADERONLY", Header("Brivellon", "1", "B1", ""),
       2, kExists + "TremoLandix'|RESTORE HEADERONLY FROM DISK = N'Other(20240310).ful'",
       "not a full backup (type 1) of Other"},
      {"TremoLandix --run", "HEADERONLY", sql::Error(3201, "Operating system error 2."), 1,
       kExists + "TremoLandix'|RESTORE HEADERONLY FROM DISK = N'TremoLandix(20240308).ful'",
       "Operating system error 2"},
      {"TremoLandix --run", "^RESTORE DATABASE", refused, 1, start + "|" + full, "tail of the log"},
      {"Gone --run", "", {}, 2, "", "no full backup of Gone"},
      {"TremoLandix --date 2024-02-30", "", {}, 2, "", "usage:"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.words + " " + c.pattern);
    server.clearRecords();
    server.clearRules();
    if (!c.pattern.empty()) server.addRule(c.pattern, c.reply);
    Serve();
    const auto [status, said] = Run(false, c.words);
    EXPECT_EQ(status, c.status) << said;
    EXPECT_EQ(Sent(), c.sent);
    EXPECT_NE(said.find(c.said), std::string::npos) << said;
  }
}

// Every database is restored as a copy, checked and dropped; one row per database lands in the
// slot-1 database's activity table, and the exit status says whether all passed.
TEST_F(RestoreCommandTest, RestoreTestChecksAndDropsACopyOfEachDatabase) {
  Put("DBServer", "BackupDB3", "Gone");
  const std::string copy = "TremoLandix_RestoreTest";
  server.addRule("^DBCC CHECKDB \\(\\[Other_RestoreTest\\]\\)",
                 sql::Error(8928, "Object ID 5, index ID 1: Page (1:77) could not be processed."));
  // The copy of TremoLandix exists from its restore on, until it is dropped.
  server.addRule("where name = N'" + copy + "'", Rows({{"name"}}, {}), 2);
  server.addRule("where name = N'" + copy + "'", Rows({{"name"}}, {{copy}}), 1);
  Serve();
  clock.SetStepMilliseconds(10);

  EXPECT_EQ(Run(true, "").first, 1);

  const std::string sent = Sent();
  EXPECT_EQ(sent.substr(0, sent.find("|" + kExists + "Other_RestoreTest")),
            kExists + copy + "'|" + kExists + copy + "'|" + kHeaders +
                "|RESTORE FILELISTONLY FROM DISK = N'TremoLandix(20240308).ful'|" + kFolders + "|" +
                RestoreFull(copy) + Moves(copy) + "|" + RestoreDifferential(copy) +
                "|DBCC CHECKDB ([" + copy + "]) WITH NO_INFOMSGS|" + kExists + copy +
                "'|DROP DATABASE [" + copy + "]");
  std::vector<std::string> rows;
  for (const sql::SqlBatch& batch : server.batches()) {
    if (batch.text.rfind("insert into", 0) != 0) continue;
    EXPECT_EQ(batch.database, "TremoLandix");
    rows.push_back(batch.text.substr(batch.text.find("getDate() ,") + 11));
  }
  EXPECT_EQ(rows, (std::vector<std::string>{"'TremoLandix' ,'Restore Test 완료' ,'RazuRarevi' )",
                                            "'Other' ,'Restore Test Fail!!!' ,'RazuRarevi' )",
                                            "'Gone' ,'Restore Test Fail!!!' ,'RazuRarevi' )"}));
  const std::string log = FromAnsi(exe.read("RazuRarevi.Log"));
  for (const std::string expected :
       {"Restore Test 완료 TremoLandix: TremoLandix(20240308).ful + TremoLandix(20240312).inc",
        "Restore Test Fail!!! Other: Other(20240310).ful: DBCC CHECKDB reports: Object ID 5",
        "Restore Test Fail!!! Gone: no chain: no full backup of Gone"}) {
    EXPECT_NE(log.find(expected), std::string::npos) << expected << "\n" << log;
  }

  EXPECT_EQ(Run(true, "TremoLandix").first, 0);
  EXPECT_EQ(Run(true, "a b").first, 2);
}

}  // namespace
}  // namespace mvx
