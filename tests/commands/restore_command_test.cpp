#include <gtest/gtest.h>

#include <sstream>

#include "common/ansi_codec.h"
#include "common/profile_file.h"
#include "common/scramble.h"
#include "commands/operator_command.h"
#include "support/sql/sql_replies.h"
#include "support/temp_dir.h"

namespace mvx {
namespace {

namespace sql = mvx::testing;
using sql::Rows;

// The columns of RESTORE HEADERONLY that the commands read.
sql::SqlReply Header(std::string db, std::string type, std::string set, std::string base) {
  return Rows({{"DatabaseName"}, {"BackupType"}, {"BackupSetGUID"}, {"DifferentialBaseGUID"}},
              {{db, type, set, base}});
}

class RestoreCommandTest : public ::testing::Test {
 protected:
  RestoreCommandTest() {
    ProfileFile ini(exe.file("RazuRarevi.ini"));
    for (const auto& [key, value] : {std::pair{"Name", "127.0.0.1"},
                                     {"BackupDB1", "TremoLandix"},
                                     {"BackupDB2", "Other"},
                                     {"BackupDB3", "Gone"}}) {
      ini.WriteString("DBServer", ScrambleValue(key), ScrambleValue(value));
    }
    ini.WriteString("RazuRarevi", ScrambleValue("BKPath"), ScrambleValue(ToAnsi(folder)));
    std::filesystem::create_directory(folder);
    for (const char* name : {"TremoLandix(20240308).ful", "TremoLandix(20240312).inc",
                             "TremoLandix(20240301).ful", "Other(20240310).ful"}) {
      backups.write("set/" + std::string(name), "");
    }
  }

  // A server without the restored databases, whose backups are the folder's files.
  void Serve() {
    server.addRule("^select name from master.dbo.sysdatabases", Rows({{"name"}}, {}));
    server.addRule("HEADERONLY.*TremoLandix\\(20240308", Header("TremoLandix", "1", "F1", ""));
    server.addRule("HEADERONLY.*TremoLandix\\(20240312", Header("TremoLandix", "5", "D1", "f1"));
    server.addRule("HEADERONLY.*Other", Header("Other", "1", "B1", ""));
    server.addRule("FILELISTONLY", Rows({{"LogicalName"}, {"Type"}},
                                        {{"Tl", "D"}, {"Tl_Log", "L"}, {"Tl_2", "D"}}));
    server.addRule("SERVERPROPERTY", Rows({{"DataPath"}, {"LogPath"}}, {{"/data/", "/log"}}));
    server.addRule("^RESTORE DATABASE", restored);
  }

  // The exit status and the output (error text included), with the folder left out.
  std::pair<int, std::string> Run(bool drill, const std::string& words) {
    std::istringstream split(words);
    std::vector<std::string> args{std::istream_iterator<std::string>(split), {}};
    ServiceOptions options;
    options.exeDir = exe.dir();
    options.databasePort = server.port();
    std::ostringstream out;
    const int status = drill ? RunRestoreTestCommand(args, options, clock, out, out)
                             : RunRestoreCommand(args, options, clock, out, out);
    return {status, Short(out.str())};
  }
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
  sql::TempDir exe, backups;
  std::string folder = backups.file("set");
  sql::SqlReply restored{.infos = {{3211, "5 percent processed."},
                                   {3211, "100 percent processed."},
                                   {3014, "RESTORE DATABASE successfully processed 361 pages."}}};
  ManualClock clock{LocalDateTime::Make(2024, 3, 15, 18, 0)};
};

const std::string kExists = "select name from master.dbo.sysdatabases where name = N'";
const std::string kHeaders =
    "RESTORE HEADERONLY FROM DISK = N'TremoLandix(20240308).ful'|"
    "RESTORE HEADERONLY FROM DISK = N'TremoLandix(20240312).inc'";
// RESTORE DATABASE of the full (with `extra` options) and of the differential.
std::string Restores(const std::string& to, const std::string& extra = "") {
  const std::string from = "RESTORE DATABASE [" + to + "] FROM DISK = N'TremoLandix(202403";
  return from + "08).ful' WITH NORECOVERY, STATS = 5" + extra + "|" + from +
         "12).inc' WITH RECOVERY, STATS = 5";
}

TEST_F(RestoreCommandTest, RestoreSendsTheCheckedChain) {
  const std::string restores = Restores("TremoLandix");
  const std::string start = kExists + "TremoLandix'|" + kHeaders;
  sql::SqlReply refused = restored;
  refused.error = sql::SqlMessage{3159, "The tail of the log has not been backed up.", 16};
  const sql::SqlReply exists = Rows({{"name"}}, {{"TremoLandix"}});
  const std::string moved =
      "|RESTORE FILELISTONLY FROM DISK = N'TremoLandix(20240308).ful'|select cast(SERVERPROPERTY("
      "'InstanceDefaultDataPath') as nvarchar(4000)) as DataPath, cast(SERVERPROPERTY("
      "'InstanceDefaultLogPath') as nvarchar(4000)) as LogPath|" +
      Restores("Copy",
               ", MOVE N'Tl' TO N'/data/Copy.mdf', MOVE N'Tl_Log' TO "
               "N'/log/Copy_log.ldf', MOVE N'Tl_2' TO N'/data/Copy_2.ndf'");

  struct Case {
    std::string words, pattern;  // the pattern's rule comes before the fixture's
    sql::SqlReply reply;
    int status;
    std::string sent, said;  // `said` is in the output
  };
  const std::vector<Case> cases = {
      {"TremoLandix", "", {}, 0, "", "\n  " + restores.substr(0, restores.find('|')) + "\n"},
      {"TremoLandix --date 2024-03-05", "", {}, 0, "", "TremoLandix(20240301).ful' WITH RECOVERY"},
      {"TremoLandix --run", "", {}, 0, start + "|" + restores, "progress: 5% 100%"},
      {"TremoLandix --run --as Copy", "", {}, 0, kExists + "Copy'|" + kHeaders + moved, "Copy."},
      {"TremoLandix --run", "sysdatabases", exists, 2, kExists + "TremoLandix'", "Add --replace"},
      {"TremoLandix --run --replace", "sysdatabases", exists, 0,
       start + "|" + Restores("TremoLandix", ", REPLACE"), "Restored"},
      {"TremoLandix --run", "HEADERONLY.*ful", Header("TremoLandix", "1", "C0", ""), 2, start,
       "belongs to another full backup"},
      {"Other --run --as TremoLandix --replace", "HEADERONLY", Header("Brivellon", "1", "B1", ""),
       2, kExists + "TremoLandix'|RESTORE HEADERONLY FROM DISK = N'Other(20240310).ful'",
       "not a full backup (type 1) of Other"},
      {"TremoLandix --run", "^RESTORE DATABASE", refused, 1,
       start + "|" + restores.substr(0, restores.find('|')), "tail of the log"},
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
  const std::string copy = "TremoLandix_RestoreTest'";
  server.addRule("^DBCC CHECKDB \\(\\[Other", sql::Error(8928, "Page (1:77) is damaged."));
  // The copy exists from its restore on, until it is dropped.
  server.addRule(copy, Rows({{"name"}}, {}), 2);
  server.addRule(copy, Rows({{"name"}}, {{"x"}}), 1);
  Serve();
  clock.SetStepMilliseconds(10);

  EXPECT_EQ(Run(true, "").first, 1);
  const std::string sent = Sent();
  EXPECT_EQ(sent.substr(0, sent.find("|RESTORE HEADERONLY")),
            kExists + copy + "|" + kExists + copy);
  EXPECT_NE(
      sent.find("_2.ndf'|RESTORE DATABASE [TremoLandix_RestoreTest] FROM DISK = N'TremoLandix("
                "20240312).inc' WITH RECOVERY, STATS = 5|DBCC CHECKDB ([TremoLandix_"
                "RestoreTest]) WITH NO_INFOMSGS|" +
                kExists + copy + "|DROP DATABASE [TremoLandix_RestoreTest]|" + kExists +
                "Other_RestoreTest"),
      std::string::npos);
  std::string rows;
  for (const sql::SqlBatch& batch : server.batches()) {
    if (batch.text.rfind("insert into T0245", 0) == 0 && batch.database == "TremoLandix") {
      const std::size_t from = batch.text.find("getDate() ,") + 11;
      rows += batch.text.substr(from, batch.text.rfind(" ,'RazuRarevi'") - from) + "\n";
    }
  }
  EXPECT_EQ(rows,
            "'TremoLandix' ,'Restore Test 완료'\n'Other' ,'Restore Test Fail!!!'\n"
            "'Gone' ,'Restore Test Fail!!!'\n");
  const std::string log = FromAnsi(exe.read("RazuRarevi.Log"));
  for (const char* line :
       {"완료 TremoLandix: TremoLandix(20240308).ful + TremoLandix(20240312).inc",
        "Fail!!! Other: Other(20240310).ful: DBCC CHECKDB reports: Page (1:77)",
        "Fail!!! Gone: no chain: no full backup of Gone"}) {
    EXPECT_NE(log.find(std::string("Restore Test ") + line), std::string::npos) << log;
  }
  EXPECT_EQ(Run(true, "TremoLandix").first, 0);
  EXPECT_EQ(Run(true, "a b").first, 2);
}

}  // namespace
}  // namespace mvx
