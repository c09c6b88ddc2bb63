#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "backup/disk_root_path.h"
#include "backup_test_support.h"
#include "support/sql/sql_replies.h"

namespace mvx::backuptest {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class BackupPassesTest : public BackupTest {
 protected:
  BackupPassesTest() { server.addRule("sysfiles", LogFileName("Other_Log")); }

  std::string File(const std::string& name) const { return BackupFolder() + "\\" + name; }
};

TEST_F(BackupPassesTest, OnlyTheSlotWithoutTodaysFileIsBackedUpOnOneConnection) {
  settings.databases = {"TremoLandix", "", "Other", "", "", ""};
  PutFile("TremoLandix(20240315).ful");
  sql::SqlReply progress;  // messages alone are no failure
  progress.infos = {Progress(10), Progress(100)};
  server.addRule("^backup database", progress);

  engine.RunFullBackups("2024-03-15");

  EXPECT_THAT(
      Statements(),
      ElementsAre("BACKUP DATABASE [Other] TO DISK = N'" + File("Other(20240315).ful") +
                      "' WITH INIT, NOUNLOAD, NAME = N'Other 백업', NOSKIP, STATS = 10, "
                      "NOFORMAT",
                  "use Other", "ALTER DATABASE Other SET RECOVERY SIMPLE",
                  "select name from sysfiles where fileid = 2", "DBCC SHRINKFILE(Other_Log)",
                  "ALTER DATABASE Other SET RECOVERY FULL", "use master"));
  EXPECT_EQ(server.batches().at(4).database, "Other");  // the shrink acts on Other's log
  EXPECT_EQ(server.logins().size(), 1u);
  EXPECT_THAT(logged, ElementsAre(LoggedMessage{"Other", "Full Backup 완료"}));
  EXPECT_THAT(reports.sent, ElementsAre(Sent("Other", "012")));
  EXPECT_THAT(measuredPaths, ElementsAre(DiskRootPath("D")));
  EXPECT_FALSE(connection.IsOpen());
}

// Full and differential files have separate names: one kind's file of today
// never stands in for the other's.
TEST_F(BackupPassesTest, BothKindsOnOneDay) {
  settings.databases = {"TremoLandix", "", "", "", "", ""};
  engine.RunFullBackups("2024-03-15");
  PutFile("TremoLandix(20240315).ful");  // what the server wrote
  engine.RunDifferentialBackups("2024-03-15");
  PutFile("TremoLandix(20240315).inc");
  engine.RunFullBackups("2024-03-15");
  engine.RunDifferentialBackups("2024-03-15");

  const std::vector<std::string> statements = Statements();
  ASSERT_EQ(statements.size(), 8u);
  EXPECT_EQ(statements.front().rfind("BACKUP DATABASE [TremoLandix] TO DISK = N'", 0), 0u);
  EXPECT_EQ(statements.back(),
            "Backup DATABASE [TremoLandix] TO DISK = N'" + File("TremoLandix(20240315).inc") +
                "' WITH INIT, NOUNLOAD, DIFFERENTIAL, NAME = N'TremoLandix백업', "
                "NOSKIP, STATS = 10, NOFORMAT");
  EXPECT_THAT(logged, ElementsAre(LoggedMessage{"TremoLandix", "Full Backup 완료"},
                                  LoggedMessage{"TremoLandix", "Increment Backup 완료"}));
  EXPECT_THAT(reports.sent, ElementsAre(Sent("TremoLandix", "012"), Sent("TremoLandix", "013")));
}

// The server reports the refusal only after its progress messages; the
// refusal is what counts, not a row count.
TEST_F(BackupPassesTest, RefusedBackupTakesTheFailurePath) {
  sql::SqlReply refused;
  refused.infos = {Progress(10), Progress(20)};
  refused.error = sql::SqlMessage{3201, "Cannot open backup device. Operating system error 5.", 16};
  server.addRule("^backup database", refused);

  struct Case {
    bool full;
    LoggedMessage message;
    std::string code;
  };
  for (const Case& c : {Case{true, {"TremoLandix", "Full Backup Fail!!!"}, "002"},
                        Case{false, {"TremoLandix", "Increment Backup Fail!!!"}, "003"}}) {
    SCOPED_TRACE(c.code);
    server.clearRecords();
    logged.clear();
    reports.sent.clear();
    c.full ? engine.RunFullBackups("2024-03-15") : engine.RunDifferentialBackups("2024-03-15");
    EXPECT_EQ(Statements().size(), 1u);  // nothing after a refused backup
    EXPECT_THAT(logged, ElementsAre(c.message));
    EXPECT_THAT(reports.sent, ElementsAre(Sent("TremoLandix", c.code)));
  }
}

// Whether the catalogue answers with an error or the link breaks under it,
// the database must not stay in the simple recovery model.
TEST_F(BackupPassesTest, FailedLogFileReadSwitchesBackToFullAndFails) {
  sql::SqlReply error;
  error.error = sql::SqlMessage{208, "Invalid object name 'sysfiles'.", 16};
  sql::SqlReply dropped;
  dropped.dropConnection = true;
  for (const sql::SqlReply& reply : {error, dropped}) {
    server.clearRules();
    server.clearRecords();
    logged.clear();
    reports.sent.clear();
    server.addRule("sysfiles", reply);
    engine.RunFullBackups("2024-03-15");
    const std::vector<std::string> statements = Statements();
    ASSERT_EQ(statements.size(), 5u);
    EXPECT_EQ(statements[2], "ALTER DATABASE TremoLandix SET RECOVERY SIMPLE");
    EXPECT_EQ(statements[3], "select name from sysfiles where fileid = 2");
    EXPECT_EQ(statements[4], "ALTER DATABASE TremoLandix SET RECOVERY FULL");
    EXPECT_THAT(logged, ElementsAre(LoggedMessage{"TremoLandix", "Full Backup Fail!!!"}));
    EXPECT_THAT(reports.sent, ElementsAre(Sent("TremoLandix", "002")));
  }
}

// After a BACKUP the server accepted, only a log file name that cannot be
// read on the connection that switched to the database fails the unit, and
// then the database goes back to the full recovery model first. A link lost
// on the way would let the next statement reopen the connection in its own
// database, whose log is not this one's. Every other failure is absorbed.
TEST_F(BackupPassesTest, StepsAfterTheBackup) {
  settings.databases = {"TremoLandix", "", "Other", "", "", ""};
  PutFile("TremoLandix(20240315).ful");
  const std::string backup = "BACKUP DATABASE [Other] TO DISK = N'" + File("Other(20240315).ful") +
                             "' WITH INIT, NOUNLOAD, NAME = N'Other 백업', NOSKIP, STATS = 10, "
                             "NOFORMAT";
  const std::string use = "use Other";
  const std::string simple = "ALTER DATABASE Other SET RECOVERY SIMPLE";
  const std::string logFile = "select name from sysfiles where fileid = 2";
  const std::string shrink = "DBCC SHRINKFILE(Other_Log)";
  const std::string full = "ALTER DATABASE Other SET RECOVERY FULL";
  const std::vector<std::string> all = {backup, use, simple, logFile, shrink, full, "use master"};
  auto refused = [](int number) {
    sql::SqlReply reply;
    reply.error = sql::SqlMessage{number, "refused", 16};
    return reply;
  };
  sql::SqlReply noFile;  // a database without a second file
  noFile.results.push_back({{{"name", sql::SqlColumn::Type::Text}}, {}});
  sql::SqlReply dropped;
  dropped.dropConnection = true;

  struct Case {
    const char* name;
    std::string pattern;
    sql::SqlReply reply;
    std::vector<std::string> statements;
    bool succeeds;
    int times = 1;
    bool recoveryFails = false;  // "Recovery FULL Fail!!!" follows the outcome
  };
  const std::vector<Case> cases = {
      {"simple refused", "SET RECOVERY SIMPLE", refused(5058), all, true},
      {"shrink refused", "^DBCC SHRINKFILE", refused(8985), all, true},
      {"full refused once: tried again on a new connection",
       "SET RECOVERY FULL",
       refused(5058),
       {backup, use, simple, logFile, shrink, full, full, "use master"},
       true},
      {"full refused twice",
       "SET RECOVERY FULL",
       refused(5058),
       {backup, use, simple, logFile, shrink, full, full, "use master"},
       true,
       2,
       true},
      {"link lost during the shrink", "^DBCC SHRINKFILE", dropped, all, true},
      {"use master refused", "^use master", refused(916), all, true},
      {"no log file",
       "sysfiles",
       noFile,
       {backup, use, simple, logFile, "DBCC SHRINKFILE()", full, "use master"},
       true},
      {"link lost on the switch to simple",
       "SET RECOVERY SIMPLE",
       dropped,
       {backup, use, simple, full},
       false},
      {"link lost on the switch to simple, full refused twice",
       "SET RECOVERY (SIMPLE|FULL)",
       dropped,
       {backup, use, simple, full, full},
       false,
       3,
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    server.clearRules();
    server.clearRecords();
    logged.clear();
    reports.sent.clear();
    server.addRule(c.pattern, c.reply, c.times);
    server.addRule("sysfiles", LogFileName("Other_Log"));

    engine.RunFullBackups("2024-03-15");

    EXPECT_EQ(Statements(), c.statements);
    std::vector<LoggedMessage> rows = {
        {"Other", c.succeeds ? "Full Backup 완료" : "Full Backup Fail!!!"}};
    if (c.recoveryFails) rows.push_back({"Other", "Recovery FULL Fail!!!"});
    EXPECT_EQ(logged, rows);
    EXPECT_THAT(reports.sent, ElementsAre(Sent("Other", c.succeeds ? "012" : "002")));
  }
}

// Every slot is judged before the first backup starts: a second slot of the
// same database is backed up too, into the same file, although the first
// backup has written it by then.
TEST_F(BackupPassesTest, AllSlotsAreJudgedBeforeTheFirstBackup) {
  settings.databases = {"TremoLandix", "", "TremoLandix", "", "", ""};
  serviceTables.SetEcho([this](std::string_view db, std::string_view message, bool) {
    logged.push_back({std::string(db), std::string(message)});
    PutFile(std::string(db) + "(20240315).inc");  // what the server wrote
  });

  engine.RunDifferentialBackups("2024-03-15");
  engine.RunDifferentialBackups("2024-03-15");  // today's file is there now

  const std::string statement =
      "Backup DATABASE [TremoLandix] TO DISK = N'" + File("TremoLandix(20240315).inc") +
      "' WITH INIT, NOUNLOAD, DIFFERENTIAL, NAME = N'TremoLandix백업', NOSKIP, STATS = 10, "
      "NOFORMAT";
  EXPECT_THAT(Statements(), ElementsAre(statement, statement));
  EXPECT_THAT(reports.sent, ElementsAre(Sent("TremoLandix", "013"), Sent("TremoLandix", "013")));
}

// A "use" that fails would leave the shrink acting on another database's log.
TEST_F(BackupPassesTest, FailedUseSkipsTheRecoverySwitchesAndTheShrink) {
  server.setDatabases({"TremoLandix"});
  settings.databases = {"TremoLandix", "Gone", "", "", "", ""};
  PutFile("TremoLandix(20240315).ful");

  engine.RunFullBackups("2024-03-15");

  EXPECT_THAT(Statements(),
              ElementsAre("BACKUP DATABASE [Gone] TO DISK = N'" + File("Gone(20240315).ful") +
                              "' WITH INIT, NOUNLOAD, NAME = N'Gone 백업', NOSKIP, STATS = 10, "
                              "NOFORMAT",
                          "use Gone", "use master"));
  EXPECT_THAT(reports.sent, ElementsAre(Sent("Gone", "012")));
}

TEST_F(BackupPassesTest, NamesThatAreNoRegularIdentifiersAreQuoted) {
  server.clearRules();
  server.addRule("sysfiles", LogFileName("My Db_log"));
  settings.databases = {"TremoLandix", "My Db", "A]b'c", "", "", ""};
  PutFile("TremoLandix(20240315).ful");

  engine.RunFullBackups("2024-03-15");
  PutFile("TremoLandix(20240315).inc");
  PutFile("My Db(20240315).inc");
  engine.RunDifferentialBackups("2024-03-15");

  EXPECT_THAT(
      Statements(),
      ElementsAre("BACKUP DATABASE [My Db] TO DISK = N'" + File("My Db(20240315).ful") +
                      "' WITH INIT, NOUNLOAD, NAME = N'My Db 백업', NOSKIP, STATS = 10, NOFORMAT",
                  "use [My Db]", "ALTER DATABASE [My Db] SET RECOVERY SIMPLE",
                  "select name from sysfiles where fileid = 2", "DBCC SHRINKFILE([My Db_log])",
                  "ALTER DATABASE [My Db] SET RECOVERY FULL", "use master",
                  "BACKUP DATABASE [A]]b'c] TO DISK = N'" + File("A]b''c(20240315).ful") +
                      "' WITH INIT, NOUNLOAD, NAME = N'A]b''c 백업', NOSKIP, STATS = 10, NOFORMAT",
                  "use [A]]b'c]", "ALTER DATABASE [A]]b'c] SET RECOVERY SIMPLE",
                  "select name from sysfiles where fileid = 2", "DBCC SHRINKFILE([My Db_log])",
                  "ALTER DATABASE [A]]b'c] SET RECOVERY FULL", "use master",
                  "Backup DATABASE [A]]b'c] TO DISK = N'" + File("A]b''c(20240315).inc") +
                      "' WITH INIT, NOUNLOAD, DIFFERENTIAL, NAME = N'A]b''c백업', NOSKIP, STATS "
                      "= 10, NOFORMAT"));
  EXPECT_EQ(server.batches().at(4).database, "My Db");
}

TEST_F(BackupPassesTest, SlotsGoInOrderAndAStopEndsThePassBetweenDatabases) {
  settings.databases = {"TremoLandix", "", "Second", "", "Third", ""};
  reports.stopAfter = 2;

  engine.RunDifferentialBackups("2024-03-15");

  const std::vector<std::string> statements = Statements();
  ASSERT_EQ(statements.size(), 2u);
  EXPECT_EQ(statements[0].rfind("Backup DATABASE [TremoLandix] ", 0), 0u);
  EXPECT_EQ(statements[1].rfind("Backup DATABASE [Second] ", 0), 0u);
  EXPECT_THAT(reports.sent, ElementsAre(Sent("TremoLandix", "013"), Sent("Second", "013")));
  EXPECT_FALSE(connection.IsOpen());
}

// Verification reads each file back right after a BACKUP the server accepted, before the log
// shrink, and reports in a row of its own after the backup's; off, nothing changes.
TEST_F(BackupPassesTest, VerificationFollowsAnAcceptedBackup) {
  const std::string full = "BACKUP DATABASE [TremoLandix] TO DISK = N'" +
                           File("TremoLandix(20240315).ful") +
                           "' WITH INIT, NOUNLOAD, NAME = N'TremoLandix 백업', NOSKIP, STATS = "
                           "10, NOFORMAT";
  const std::string inc = "Backup DATABASE [TremoLandix] TO DISK = N'" +
                          File("TremoLandix(20240315).inc") +
                          "' WITH INIT, NOUNLOAD, DIFFERENTIAL, NAME = N'TremoLandix백업', "
                          "NOSKIP, STATS = 10, NOFORMAT";
  const std::string verify = "RESTORE VERIFYONLY FROM DISK = N'" + File("TremoLandix(20240315).");
  const std::string shrink =
      "use TremoLandix|ALTER DATABASE TremoLandix SET RECOVERY SIMPLE|"
      "select name from sysfiles where fileid = 2|DBCC SHRINKFILE(Other_Log)|"
      "ALTER DATABASE TremoLandix SET RECOVERY FULL|use master";
  const std::string damaged = "The backup set on file 1 is not valid.";
  const sql::SqlReply verifyFails{.infos = {Progress(50)}, .error = {{3241, damaged, 16}}};

  struct Case {
    bool verify, full, backupRefused, verifyRefused;
    std::string statements;  // separated by "|"
    std::vector<std::string> rows;
    std::string code;
  };
  const std::string checkedFull = full + ", CHECKSUM|" + verify + "ful' WITH CHECKSUM|" + shrink;
  const std::string checkedInc = inc + ", CHECKSUM|" + verify + "inc' WITH CHECKSUM";
  const std::vector<Case> cases = {
      {false, true, false, false, full + "|" + shrink, {"Full Backup 완료"}, "012"},
      {false, false, false, false, inc, {"Increment Backup 완료"}, "013"},
      {true, true, false, false, checkedFull, {"Full Backup 완료", "Verify 완료"}, "012"},
      {true, true, false, true, checkedFull, {"Full Backup Fail!!!", "Verify Fail!!!"}, "002"},
      {true, false, false, false, checkedInc, {"Increment Backup 완료", "Verify 완료"}, "013"},
      {true, false, false, true, checkedInc, {"Increment Backup Fail!!!", "Verify Fail!!!"}, "003"},
      {true, true, true, false, full + ", CHECKSUM", {"Full Backup Fail!!!"}, "002"},
  };
  // A backup that failed its verification is set aside (an older one of its kind goes), and the
  // next pass takes the backup again.
  server.createBackupFiles(backups.dir());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.statements);
    const std::string file = std::string("TremoLandix(20240315).") + (c.full ? "ful" : "inc");
    const std::string older = std::string("TremoLandix(20240301).") + (c.full ? "ful" : "inc");
    std::filesystem::remove(backups.file(file));
    std::filesystem::remove(backups.file(file + ".bad"));
    PutFile(older + ".bad");
    server.clearRules();
    server.clearRecords();
    logged.clear();
    reports.sent.clear();
    textLog.ClearLastFileLogText();
    settings.verify = c.verify;
    server.addRule("sysfiles", LogFileName("Other_Log"));
    if (c.backupRefused) server.addRule("^backup database", sql::Error(3201, "refused"));
    if (c.verifyRefused) server.addRule("^RESTORE VERIFYONLY", verifyFails);

    c.full ? engine.RunFullBackups("2024-03-15") : engine.RunDifferentialBackups("2024-03-15");

    std::string sent;
    for (const std::string& statement : Statements()) sent += (sent.empty() ? "" : "|") + statement;
    EXPECT_EQ(sent, c.statements);
    std::vector<LoggedMessage> rows;
    for (const std::string& row : c.rows) rows.push_back({"TremoLandix", row});
    EXPECT_EQ(logged, rows);
    EXPECT_THAT(reports.sent, ElementsAre(Sent("TremoLandix", c.code)));
    EXPECT_EQ(textLog.LastFileLogText().find(damaged) != std::string::npos, c.verifyRefused);
    EXPECT_EQ(backups.exists(file + ".bad"), c.verifyRefused);
    EXPECT_EQ(backups.exists(older + ".bad"), !c.verifyRefused);
    EXPECT_EQ(backups.exists(file), !c.verifyRefused && !c.backupRefused);
    server.clearRecords();
    c.full ? engine.RunFullBackups("2024-03-15") : engine.RunDifferentialBackups("2024-03-15");
    EXPECT_EQ(Statements().empty(), !c.verifyRefused && !c.backupRefused);
  }
}

// With log backups on, the full pass backs the log up instead of switching to SIMPLE; each
// round backs up the databases in FULL recovery into a new name, a broken chain (4214) gets a
// full backup at once, and rows come only for failures and the first success after one.
TEST_F(BackupPassesTest, LogBackupsKeepTheChain) {
  settings.logBackupMinutes = 15;
  const std::string model =
      "select convert(varchar(60), DATABASEPROPERTYEX(N'TremoLandix', 'Recovery'))";
  const std::string trn = File("TremoLandix(20240315-170000).trn");
  const std::string log = "|BACKUP LOG [TremoLandix] TO DISK = N'" + trn + "' WITH INIT, NOFORMAT";
  const std::string full = "BACKUP DATABASE [TremoLandix] TO DISK = N'" +
                           File("TremoLandix(20240315).ful") +
                           "' WITH INIT, NOUNLOAD, NAME = N'TremoLandix 백업', NOSKIP, STATS = 10, "
                           "NOFORMAT|use TremoLandix|" +
                           model;
  const std::string shrink =
      "|select name from sysfiles where fileid = 2|DBCC SHRINKFILE(Other_Log)|use master";
  const std::string verify =
      ", CHECKSUM|RESTORE VERIFYONLY FROM DISK = N'" + trn + "' WITH CHECKSUM";
  std::string nextName = log;
  nextName.replace(nextName.find("170000"), 6, "170001");
  struct Case {
    bool fullPass, verify, taken;  // taken: a file of this second's name is there
    std::string recovery;
    int logError;                          // 0: BACKUP LOG succeeds
    std::string statements, rows, report;  // separated by "|"
  };
  const std::vector<Case> cases = {
      {true, false, false, "FULL", 0, full + log + shrink, "Full Backup 완료", "012"},
      {false, true, false, "FULL", 0, model + log + verify, "", ""},
      {false, false, true, "FULL", 0, model + nextName, "", ""},
      {false, false, false, "FULL", 3201, model + log, "Log Backup Fail!!!", ""},
      {false, false, false, "FULL", 0, model + log, "Log Backup 완료", ""},
      {false, false, false, "FULL", 4214, model + log + "|" + full + log + shrink,
       "Log Backup Fail!!!|Full Backup 완료|Log Backup 완료", "012"},
      {false, false, false, "SIMPLE", 0, model, "", ""},
      {true, false, false, "SIMPLE", 0, full + shrink, "Full Backup 완료", "012"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.statements);
    server.clearRules();
    server.clearRecords();
    logged.clear();
    reports.sent.clear();
    textLog.ClearLastFileLogText();
    settings.verify = c.verify;
    if (c.taken) PutFile("TremoLandix(20240315-170000).trn");
    server.addRule("sysfiles", LogFileName("Other_Log"));
    server.addRule("DATABASEPROPERTYEX", sql::Rows({{""}}, {{c.recovery}}));
    if (c.logError != 0) server.addRule("^BACKUP LOG", sql::Error(c.logError, "no chain"), 1);

    c.fullPass ? engine.RunFullBackups("2024-03-15") : engine.RunLogBackups();

    std::string sent, rows;
    for (const std::string& statement : Statements()) sent += (sent.empty() ? "" : "|") + statement;
    for (const LoggedMessage& row : logged) rows += (rows.empty() ? "" : "|") + row.message;
    EXPECT_EQ(sent, c.statements);
    EXPECT_EQ(rows, c.rows);
    EXPECT_EQ(reports.sent.empty() ? "" : reports.sent.front().eventCode, c.report);
    // The server's message goes to the text log; a database without log backups once.
    EXPECT_EQ(textLog.LastFileLogText().find(c.logError ? "no chain" : "recovery model SIMPLE") !=
                  std::string::npos,
              c.logError != 0 || (c.recovery == "SIMPLE" && !c.fullPass));
    std::filesystem::remove(backups.path() / "TremoLandix(20240315-170000).trn");
  }
}

TEST_F(BackupPassesTest, NoConnectionNoBackup) {
  server.refuseLogins(true);
  engine.RunFullBackups("2024-03-15");
  EXPECT_THAT(Statements(), IsEmpty());
  EXPECT_THAT(reports.sent, IsEmpty());
}

}  // namespace
}  // namespace mvx::backuptest
