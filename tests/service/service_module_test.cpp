#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "common/ansi_codec.h"
#include "common/host_info.h"
#include "common/profile_file.h"
#include "common/scramble.h"
#include "service/tf_mvx_backup_main.h"
#include "support/fake_service_control.h"
#include "support/sql/scripted_sql_server.h"
#include "support/sql/sql_replies.h"
#include "support/temp_dir.h"

namespace mvx {
namespace {

namespace sql = mvx::testing;
using namespace std::chrono_literals;

// Support hosts that never answer: reports and link checks end at once.
class SilentPinger final : public Pinger {
 public:
  PingResult Ping(std::string_view) override { return {}; }
};

class RecordingEventLog final : public EventLog {
 public:
  void Error(std::string_view source, std::string_view message) override {
    std::lock_guard lock(mutex);
    entries.push_back(std::string(source) + ": " + std::string(message));
  }
  std::mutex mutex;
  std::vector<std::string> entries;
};

using sql::Count;
using sql::Error;
using sql::Rows;

const char kTransportMode[] = "^select C005 from T0246$";
const char kBrivellon[] =
    "^select count\\(\\*\\) from master\\.dbo\\.sysdatabases where name = 'Brivellon' $";
const char kInstallation[] = "^select C001 from .*\\.dbo\\.T0101";
const char kStart[] =
    "insert into T0245 (C002,C003,C004,C005) values ( getDate() ,'' ,'RazuRarevi Start' "
    ",'RazuRarevi' )";
const char kStop[] =
    "insert into T0245 (C002,C003,C004,C005) values ( getDate() ,'' ,'RazuRarevi Stop' "
    ",'RazuRarevi' )";

class ServiceModuleTest : public ::testing::Test {
 protected:
  ServiceModuleTest() {
    Put("DBServer", "Name", "127.0.0.1");
    Put("DBServer", "ID", "quendr");
    Put("DBServer", "Password", "pw");
    Put("DBServer", "BackupDB1", "TremoLandix");
    // The root of the backup folder's file system: "/" here, its drive on Windows.
    Put("DBServer", "DBPath", backups.path().root_path().string());
    Put("RazuRarevi", "BKPath", backups.dir());
    Put("RazuRarevi", "FullType", "0");
    Put("RazuRarevi", "IncType", "0");
    Put("RazuRarevi", "TimerInt", "600");
    Put("RazuRarevi", "Save", "0");
  }

  void Put(const std::string& section, const std::string& key, const std::string& value) {
    ProfileFile(exe.file("RazuRarevi.ini"))
        .WriteString(section, ScrambleValue(key), ScrambleValue(ToAnsi(value)));
  }
  std::string Get(const std::string& section, const std::string& key) {
    return FromAnsi(UnscrambleValue(
        ProfileFile(exe.file("RazuRarevi.ini")).ReadString(section, ScrambleValue(key))));
  }

  // The answers of an application database that holds the service tables.
  void ServeExistingDatabase(bool brivellon = false) {
    server.addRule(kTransportMode, Rows({sql::VarChar("C005")}, {{std::nullopt}}));
    server.addRule(kBrivellon, Count(brivellon ? 1 : 0));
    server.addRule(kInstallation, Rows({sql::VarChar("C001")}, {{"INST-7"}}));
    server.addRule("from sysobjects", Count(1));
    server.addRule("^select count\\(\\*\\) from T0246$", Count(1));
  }

  ServiceOptions Options() {
    ServiceOptions options;
    options.exeDir = exe.dir();
    options.firstTickDelay = 1h;  // ticks are driven by hand unless a test says otherwise
    options.timerUnit = 1ms;
    options.databasePort = server.port();
    options.endpoints.primaryHost = "127.0.0.1";
    options.endpoints.secondaryHost = "127.0.0.1";
    options.pinger = &pinger;
    options.serviceControl = &companion;  // the machine's service manager is never touched
    return options;
  }

  std::vector<std::string> Batches() { return server.batchTexts(); }

  sql::ScriptedSqlServer server;
  sql::TempDir exe;
  sql::TempDir backups;
  SilentPinger pinger;
  sql::FakeServiceControl companion;
  RecordingEventLog eventLog;
  ManualClock clock{LocalDateTime::Make(2024, 3, 15, 18, 0)};
};

TEST_F(ServiceModuleTest, StartRunsItsStatementsInOrder) {
  ServeExistingDatabase();
  TfMvxBackupMain module(clock, eventLog, Options());
  ASSERT_TRUE(module.ServiceStart());
  EXPECT_EQ(Batches(),
            (std::vector<std::string>{
                "select C005 from T0246",
                "select count(*) from master.dbo.sysdatabases where name = 'Brivellon' ",
                "select C001 from TremoLandix.dbo.T0101 where (C000 = '**' or C000 = '*') ",
                "select Count(*) from sysobjects where id = object_id('T0245' ) and type = 'U'",
                "select count(*) from sysobjects a join syscolumns b on  a.id = b.id and b.name  = "
                "'C005' where a.name  = 'T0245'   and a.xtype = 'U' ",
                "select Count(*) from sysobjects where id = object_id('T0246' ) and type = 'U'",
                "select count(*) from T0246",
                "update T0246 set C003 = '" + module.ServiceVersion() + "' ",
                "delete from T0245 where C002 < getDate() - 30",
                kStart,
            }));
  EXPECT_TRUE(module.StartupPrepared());
  EXPECT_EQ(module.InstallationId(), "INST-7");
  EXPECT_EQ(module.settings().timerInt, 600);
  EXPECT_EQ(module.dMFunc()->TransportMode(), "1");
  EXPECT_TRUE(module.timer1().Armed());
  EXPECT_TRUE(eventLog.entries.empty());
}

TEST_F(ServiceModuleTest, FirstTickAfterThreeSecondsThenEveryTimerInt) {
  ServeExistingDatabase();
  ServiceOptions options = Options();
  options.firstTickDelay = ServiceOptions{}.firstTickDelay;
  options.timerUnit = ServiceOptions{}.timerUnit;
  TfMvxBackupMain module(clock, eventLog, options);
  module.ServiceStart();
  EXPECT_EQ(module.timer1().LastInterval(), 3000ms);
  module.Timer1Timer();
  EXPECT_EQ(module.timer1().LastInterval(), 600s);
  // The stop's and the start's bounds are promises of their own (45 s stop, 60 s Windows start).
  EXPECT_EQ(ServiceOptions{}.statementGrace, 30s);
  EXPECT_EQ(ServiceOptions{}.cancelGrace, 10s);
  EXPECT_EQ(ServiceOptions{}.startGiveUp, 50s);
  EXPECT_EQ(SqlConnection::kShortStatementLimit, 30s);
}

TEST_F(ServiceModuleTest, StartWithoutServiceTablesCreatesThem) {
  server.addRule(kTransportMode, Error(208, "Invalid object name 'T0246'."), 1);
  server.addRule(kBrivellon, Count(0));
  server.addRule(kInstallation, Rows({{"C001"}}, {}));
  server.addRule("from sysobjects", Count(0));
  server.addRule("^select count\\(\\*\\) from T0246$", Count(0));
  TfMvxBackupMain module(clock, eventLog, Options());
  ASSERT_TRUE(module.ServiceStart());
  EXPECT_EQ(module.dMFunc()->TransportMode(), "1");
  EXPECT_EQ(module.InstallationId(), "");
  const std::vector<std::string> batches = Batches();
  auto has = [&](const std::string& prefix) {
    return std::any_of(batches.begin(), batches.end(),
                       [&](const std::string& b) { return b.rfind(prefix, 0) == 0; });
  };
  EXPECT_TRUE(has("create table T0245 "));
  EXPECT_TRUE(has("create table T0246 "));
  EXPECT_TRUE(has("insert into T0246 (C001,C002,C003,C004) values (1, '',"));
  EXPECT_EQ(batches.back(), kStart);
}

TEST_F(ServiceModuleTest, FirstTickNeverOverlapsTheStart) {
  ServeExistingDatabase();
  sql::SqlReply slowStartRow;
  slowStartRow.rowCount = 1;
  slowStartRow.delay = 300ms;  // the start message is still on the wire when a tick could come
  server.addRule("'RazuRarevi Start'", slowStartRow);
  ServiceOptions options = Options();
  options.firstTickDelay = 0ms;
  TfMvxBackupMain module(clock, eventLog, options);
  ASSERT_TRUE(module.ServiceStart());
  ASSERT_TRUE(server.waitForBatches(11, 5000ms));  // the start's ten and the tick's first
  module.ServiceStop();
  const std::vector<std::string> batches = Batches();
  ASSERT_GE(batches.size(), 11u);
  EXPECT_EQ(batches[9], kStart);
  EXPECT_EQ(batches[10], "select C005 from T0246");
  EXPECT_TRUE(eventLog.entries.empty());
}

TEST_F(ServiceModuleTest, TimerIntFloor) {
  struct Case {
    std::string stored;
    int expected;
  };
  for (const Case& c : {Case{"499", 1000}, Case{"500", 500}, Case{"-3", 1000}, Case{"", 1800}}) {
    Put("RazuRarevi", "TimerInt", c.stored);
    ServeExistingDatabase();
    TfMvxBackupMain module(clock, eventLog, Options());
    module.ServiceStart();
    EXPECT_EQ(module.settings().timerInt, c.expected) << c.stored;
  }
}

TEST_F(ServiceModuleTest, ServerDownAtStartThenPreparedByATick) {
  server.refuseLogins(true);
  ServeExistingDatabase();
  Put("RazuRarevi", "FullType", "3");  // a full backup is due at once
  companion.state = kServiceStopped;
  TfMvxBackupMain module(clock, eventLog, Options());
  ASSERT_TRUE(module.ServiceStart());  // the service still runs
  EXPECT_FALSE(module.StartupPrepared());
  EXPECT_TRUE(Batches().empty());
  EXPECT_EQ(module.dMFunc()->TransportMode(), "");

  module.Timer1Timer();  // still down: the tick only tries again
  EXPECT_FALSE(module.StartupPrepared());
  EXPECT_TRUE(module.timer1().Armed());
  EXPECT_TRUE(companion.calls.empty());

  server.refuseLogins(false);
  server.clearRecords();
  module.Timer1Timer();
  EXPECT_TRUE(module.StartupPrepared());
  EXPECT_EQ(module.InstallationId(), "INST-7");
  const std::vector<std::string> batches = Batches();
  ASSERT_GE(batches.size(), 4u);
  EXPECT_EQ(batches[0], "select C005 from T0246");
  EXPECT_EQ(batches[1], "select count(*) from master.dbo.sysdatabases where name = 'Brivellon' ");
  // Same tick: the companion check ran, then the schedule took the due backup.
  EXPECT_EQ(companion.calls,
            (std::vector<std::string>{"query RidOdadezMain", "start RidOdadezMain"}));
  EXPECT_TRUE(std::any_of(batches.begin(), batches.end(), [](const std::string& b) {
    return b.rfind("BACKUP DATABASE [TremoLandix]", 0) == 0;
  }));
}

TEST_F(ServiceModuleTest, BrivellonJoinsTheFirstEmptySlot) {
  struct Case {
    std::vector<std::string> slots;
    bool exists;
    std::vector<std::string> expected;
    bool rewritten;
  };
  const Case cases[] = {
      {{"TremoLandix", "Second"}, true, {"TremoLandix", "Second", "Brivellon"}, true},
      {{"A", "B", "C", "D", "E", "F"}, true, {"A", "B", "C", "D", "E", "F"}, true},
      {{"TremoLandix", "bRIVELLON"}, true, {"TremoLandix", "bRIVELLON"}, false},
      {{"TremoLandix"}, false, {"TremoLandix"}, false},
  };
  for (const Case& c : cases) {
    for (int slot = 0; slot < 6; ++slot) {
      Put("DBServer", "BackupDB" + std::to_string(slot + 1),
          slot < static_cast<int>(c.slots.size()) ? c.slots[static_cast<std::size_t>(slot)] : "");
    }
    Put("DBServer", "Name", "  127.0.0.1 ");
    server.clearRules();
    ServeExistingDatabase(c.exists);
    TfMvxBackupMain module(clock, eventLog, Options());
    module.ServiceStart();
    for (std::size_t i = 0; i < 6; ++i) {
      EXPECT_EQ(module.settings().databases[i], i < c.expected.size() ? c.expected[i] : "");
    }
    EXPECT_EQ(Get("DBServer", "Name"), c.rewritten ? "127.0.0.1" : "  127.0.0.1 ");
    if (c.rewritten) {
      EXPECT_EQ(
          ProfileFile(exe.file("RazuRarevi.ini")).ReadString("DBServer", ScrambleValue("cfgType")),
          "1");
    }
  }
}

TEST_F(ServiceModuleTest, FailedStatementAtStartEndsTheStart) {
  server.addRule(kTransportMode, Rows({{"C005"}}, {{"2"}}));
  server.addRule(kBrivellon, Count(0));
  server.addRule(kInstallation, Error(208, "Invalid object name 'TremoLandix.dbo.T0101'."));
  TfMvxBackupMain module(clock, eventLog, Options());
  EXPECT_THROW(module.ServiceStart(), std::exception);
  EXPECT_FALSE(module.timer1().Armed());
}

// Past its time the start skips the statements it has no time for, names them in the text log
// and runs: a Windows start must end, and the ticks do what it skipped.
TEST_F(ServiceModuleTest, StartGivesUpOnTheStatementsItHasNoTimeFor) {
  struct Case {
    const char* slow;
    sql::SqlReply reply;
    const char* skipped;
  };
  sql::SqlReply slowMode = Rows({sql::VarChar("C005")}, {{std::nullopt}});
  slowMode.delay = 700ms;
  const Case cases[] = {
      {"^delete from T0245", sql::SqlReply{.delay = 60s},
       "Start ran out of time, skipped: T0245 purge, RazuRarevi Start"},
      // Too little time left for the link check, which no statement deadline bounds.
      {kTransportMode, slowMode, "Start ran out of time, skipped: support link check"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.slow);
    server.clearRules();
    server.addRule(c.slow, c.reply);
    ServeExistingDatabase();
    ServiceOptions options = Options();
    options.startGiveUp = 1s;
    TfMvxBackupMain module(clock, eventLog, options);
    const auto begun = std::chrono::steady_clock::now();
    ASSERT_TRUE(module.ServiceStart());
    EXPECT_LT(std::chrono::steady_clock::now() - begun, 5s);
    EXPECT_TRUE(module.timer1().Armed());
    const std::vector<std::string> batches = Batches();
    EXPECT_NE(
        std::find(batches.begin(), batches.end(), "delete from T0245 where C002 < getDate() - 30"),
        batches.end());
    const ProfileFile log(exe.file("RazuRarevi.Log"));
    const std::vector<std::string> keys = log.SectionKeys("RazuRarevi Log");
    ASSERT_FALSE(keys.empty());
    EXPECT_EQ(log.ReadString("RazuRarevi Log", keys.back()), c.skipped);
    module.ServiceStop();
  }
}

TEST_F(ServiceModuleTest, RefreshFailureGoesToTheEventLogAndTheTimerGoesOn) {
  ServeExistingDatabase();
  TfMvxBackupMain module(clock, eventLog, Options());
  module.ServiceStart();
  server.clearRules();
  server.addRule(kTransportMode, Error(229, "The SELECT permission was denied."));
  module.Timer1Timer();
  EXPECT_TRUE(module.timer1().Armed());
  // Under the program's own event source, as the host's other failures.
  EXPECT_EQ(eventLog.entries,
            std::vector<std::string>{ExecutableFileName() + ": The SELECT permission was denied."});
}

TEST_F(ServiceModuleTest, ScheduleFailureEndsTheTickSilently) {
  ServeExistingDatabase();
  Put("RazuRarevi", "BKPath", backups.file("missing-folder"));
  Put("RazuRarevi", "Save", "4");  // the cleanup raises on the missing folder
  TfMvxBackupMain module(clock, eventLog, Options());
  module.ServiceStart();
  module.Timer1Timer();
  module.Timer1Timer();
  EXPECT_TRUE(module.timer1().Armed());
  EXPECT_TRUE(eventLog.entries.empty());
}

// Log backups come from the timer on their own clock, without a tick, and take a new file
// each round; a stop cancels one that runs on after its grace, as any statement.
TEST_F(ServiceModuleTest, LogBackupsComeFromTheTimerAndAStopEndsThem) {
  ServeExistingDatabase();
  Put("RazuRarevi", "LogBackup", "5");  // 300 ms at a millisecond a second
  server.addRule("DATABASEPROPERTYEX", Rows({{""}}, {{"FULL"}}));
  server.addRule("^BACKUP LOG", sql::SqlReply{}, 2);
  server.addRule("^BACKUP LOG", sql::SqlReply{.delay = 60s});
  server.createBackupFiles(backups.path().string());
  ServiceOptions options = Options();
  options.statementGrace = 300ms;
  TfMvxBackupMain module(clock, eventLog, options);
  ASSERT_TRUE(module.ServiceStart());
  const auto logBackups = [&] {
    std::string names;  // the file names, one after the other
    for (const std::string& batch : Batches()) {
      if (batch.rfind("BACKUP LOG [TremoLandix]", 0) == 0)
        names += batch.substr(batch.find('('), 17);
    }
    return names;
  };
  for (int i = 0; i < 10000 && logBackups().size() < 51; ++i) std::this_thread::sleep_for(1ms);
  EXPECT_TRUE(module.ServiceStop());
  EXPECT_EQ(logBackups(), "(20240315-180000)(20240315-180001)(20240315-180002)");
  const std::vector<std::string> batches = Batches();
  EXPECT_NE(batches.at(batches.size() - 2).find("'Log Backup Fail!!!'"), std::string::npos);
  EXPECT_EQ(batches.back(), kStop);
}

// A stop waits for a running statement up to its grace, then cancels it; a
// second request cancels at once. A cancelled BACKUP fails as a refused one.
TEST_F(ServiceModuleTest, TicksComeFromTheTimerAndStopWaitsForARunningTick) {
  struct Case {
    const char* name;
    std::chrono::milliseconds backup, grace;
    bool cancelNow;
    const char* outcome;
    // A final row the server takes and never answers: the stop still ends within its bound
    // (grace + cancel grace + 5 s) and the row goes to the text log.
    bool stopRowHangs = false;
  };
  const Case cases[] = {
      {"short statement", 300ms, 30s, false, "'Full Backup 완료'"},
      {"grace over", 60s, 300ms, false, "'Full Backup Fail!!!'"},
      {"second request", 60s, 30s, true, "'Full Backup Fail!!!'"},
      {"stop row never answered", 300ms, 2s, false, "'Full Backup 완료'", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    server.clearRules();
    server.clearRecords();
    ServeExistingDatabase();
    Put("RazuRarevi", "TimerInt", "500");
    Put("RazuRarevi", "FullType", "3");
    Put("DBServer", "BackupDB2", "Second");
    sql::SqlReply slowBackup;
    slowBackup.infos = {{3211, "10 percent processed.", 0}};
    slowBackup.delay = c.backup;
    server.addRule("^BACKUP DATABASE", slowBackup);
    server.addRule("^select name from sysfiles", Rows({{"name"}}, {{"TremoLandix_Log"}}));
    sql::SqlReply hungRow{.delay = 600s, .ignoreAttention = true};
    if (c.stopRowHangs) server.addRule("'RazuRarevi Stop'", hungRow);
    std::filesystem::remove(exe.file("RazuRarevi.Log"));
    ServiceOptions options = Options();
    options.firstTickDelay = 10ms;
    options.statementGrace = c.grace;
    if (c.stopRowHangs) options.cancelGrace = 500ms;
    std::atomic<int> pending{0};
    options.stopPending = [&] { ++pending; };
    TfMvxBackupMain module(clock, eventLog, options);
    module.ServiceStart();
    ASSERT_TRUE(server.waitForBatches(12, 5000ms));  // the first tick has begun
    for (int i = 0; i < 5000 && !module.timer1().TickRunning(); ++i) {
      std::this_thread::sleep_for(1ms);
    }
    ASSERT_TRUE(module.timer1().TickRunning());
    std::thread second;
    if (c.cancelNow) second = std::thread([&] { module.CancelNow(); });
    const auto stopBegun = std::chrono::steady_clock::now();
    EXPECT_TRUE(module.ServiceStop());
    if (c.stopRowHangs) {
      EXPECT_LT(std::chrono::steady_clock::now() - stopBegun, c.grace + 500ms + 5s + 500ms);
      const ProfileFile log(exe.file("RazuRarevi.Log"));
      const std::vector<std::string> keys = log.SectionKeys("RazuRarevi Log");
      ASSERT_FALSE(keys.empty());
      EXPECT_EQ(log.ReadString("RazuRarevi Log", keys.back()), "RazuRarevi Stop");
      EXPECT_GT(pending.load(), 3);  // the heartbeat went on while the row waited
    }
    if (second.joinable()) second.join();
    EXPECT_FALSE(module.timer1().TickRunning());
    EXPECT_EQ(module.dMFunc(), nullptr);
    const std::vector<std::string> batches = Batches();
    EXPECT_EQ(batches.back(), kStop);
    // The hung row's own timeout may send an attention of its own later.
    if (!c.stopRowHangs) {
      EXPECT_EQ(server.attentions(), c.backup > c.grace || c.cancelNow ? 1 : 0);
    }
    EXPECT_NE(std::find_if(batches.begin(), batches.end(),
                           [&](const std::string& b) {
                             return b.find(c.outcome) != std::string::npos &&
                                    b.find("TremoLandix") != std::string::npos;
                           }),
              batches.end());
    // The stop came during the first database's backup: the second was never started, and the
    // log was never switched to SIMPLE for a shrink the stop might have to give up on.
    for (const char* never : {"[Second]", "SET RECOVERY"}) {
      EXPECT_EQ(std::count_if(batches.begin(), batches.end(),
                              [&](const std::string& b) { return b.find(never) != b.npos; }),
                0)
          << never;
    }
    const std::size_t count = server.batchTexts().size();
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(server.batchTexts().size(), count);  // no tick after the stop
  }
}

// A last row whose login the server never answers: the stop walks away from it at its deadline,
// while the row's thread may still be giving up its connect, and the process must then end
// without unloading the driver.
TEST_F(ServiceModuleTest, StopWalksAwayFromAHungLastRow) {
  ServeExistingDatabase();
  ServiceOptions options = Options();
  // A 5.5 s stop: the login's own limit, rounded up to 6 s, comes after the walk-away.
  options.statementGrace = 500ms;
  options.cancelGrace = 0ms;
  TfMvxBackupMain module(clock, eventLog, options);
  ASSERT_TRUE(module.ServiceStart());
  server.hangLogins(true);
  EXPECT_TRUE(module.ServiceStop());
  EXPECT_TRUE(module.ConnectStillOut());
}

// A stop cancels a long log shrink, but never the switch back to FULL that follows it, nor the
// retry on a reopened connection, nor the outcome row: those run on past the late cancels and the
// cancel grace (here until 2.8 s, the last resort at 4.8 s), and the stop then ends as usual.
TEST_F(ServiceModuleTest, StopNeverCancelsTheSwitchBackToFull) {
  struct Case {
    const char* name;
    bool firstSwitchRefused;
    std::chrono::milliseconds switchDelay, outcomeRowDelay;
  };
  const Case cases[] = {
      {"slow switch", false, 1500ms, 0ms},
      {"switch retried, slow outcome row", true, 1000ms, 1500ms},
      // Past the last resort (4.8 s) the stop gives up and names the database in the text log.
      {"switch past the last resort", false, 6000ms, 0ms},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    server.clearRules();
    server.clearRecords();
    ServeExistingDatabase();
    Put("RazuRarevi", "FullType", "3");
    server.addRule("^select name from sysfiles", Rows({{"name"}}, {{"TremoLandix_Log"}}));
    server.addRule("^DBCC SHRINKFILE", sql::SqlReply{.delay = 60s});
    if (c.firstSwitchRefused) {
      server.addRule("SET RECOVERY FULL$", Error(5069, "ALTER DATABASE statement failed."), 1);
    }
    server.addRule("SET RECOVERY FULL$", sql::SqlReply{.delay = c.switchDelay});
    server.addRule("'Full Backup 완료'", sql::SqlReply{.rowCount = 1, .delay = c.outcomeRowDelay});
    ServiceOptions options = Options();
    options.firstTickDelay = 10ms;
    options.statementGrace = 300ms;
    options.cancelGrace = 500ms;
    TfMvxBackupMain module(clock, eventLog, options);
    module.ServiceStart();
    for (int i = 0; i < 500 && !server.batchTexts().back().starts_with("DBCC"); ++i) {
      std::this_thread::sleep_for(10ms);
    }
    ASSERT_TRUE(server.batchTexts().back().starts_with("DBCC"));
    const bool givesUp = c.switchDelay > 4800ms;
    std::filesystem::remove(exe.file("RazuRarevi.Log"));
    EXPECT_EQ(module.ServiceStop(), !givesUp);
    if (givesUp) {
      const ProfileFile log(exe.file("RazuRarevi.Log"));
      const std::vector<std::string> keys = log.SectionKeys("RazuRarevi Log");
      ASSERT_FALSE(keys.empty());
      EXPECT_EQ(log.ReadString("RazuRarevi Log", keys.back()),
                "TremoLandix may be left in SIMPLE recovery: the stop gave up on it");
      continue;
    }
    const std::vector<std::string> batches = Batches();
    const auto count = [&](const char* part) {
      return std::count_if(batches.begin(), batches.end(),
                           [&](const std::string& b) { return b.find(part) != b.npos; });
    };
    EXPECT_EQ(server.attentions(), 1);
    EXPECT_EQ(count("SET RECOVERY FULL"), c.firstSwitchRefused ? 2 : 1);
    EXPECT_EQ(count("Recovery FULL Fail"), 0);
    EXPECT_EQ(count("'Full Backup 완료'"), 1);
    EXPECT_EQ(batches.back(), kStop);
  }
}

// A raising key-part run ends only its own slot's work: on Friday 18:00 the request (tick step
// 3.2) or the weekly run (after the backups) of both slots fails, the full backups are taken all
// the same, and slot 2 still gets its run after slot 1 raised.
TEST_F(ServiceModuleTest, RaisingKeyPartRunEndsOnlyTheKeyPartWork) {
  struct Case {
    std::string name, c001, keyWeek;
  };
  for (const Case& c : {Case{"request", "3", "월"}, Case{"weekly", "1", "금"}}) {
    SCOPED_TRACE(c.name);
    Put("DBServer", "BackupDB1", "QuendrilaxoMain");
    Put("DBServer", "BackupDB2", "ZoltmarkenShop");
    Put("RazuRarevi", "FullType", "3");
    Put("RazuRarevi", "KeyWeek", c.keyWeek);
    Put("RazuRarevi", "KeyTime", "17:00");
    server.clearRules();
    ServeExistingDatabase();
    server.addRule(sql::kKeyPartStatusRead, sql::KeyPartStatus(c.c001, "", "", "1000000",
                                                               "1"
                                                               "00000000"));
    server.addRule("^select C004 from", Rows({sql::VarChar("C004")}, {}));
    server.addRule("^Exec PM_KeyInit",
                   Error(2812, "Could not find stored procedure 'PM_KeyInit'."));
    TfMvxBackupMain module(clock, eventLog, Options());
    module.ServiceStart();
    server.clearRecords();
    module.Timer1Timer();
    const std::vector<std::string> batches = Batches();
    auto count = [&](const std::string& part) {
      return std::count_if(batches.begin(), batches.end(),
                           [&](const std::string& b) { return b.find(part) != std::string::npos; });
    };
    EXPECT_EQ(count("BACKUP DATABASE"), 2);
    EXPECT_EQ(count("Exec PM_KeyInit"), 2);
    EXPECT_EQ(count("KeyPart 정리 시작(ZoltmarkenShop)"), 1);
    EXPECT_EQ(count("C001 = '1'") + count("C001 = '0'"), 0);  // C001 stays "2"
    const ProfileFile log(exe.file("RazuRarevi.Log"));
    const std::vector<std::string> keys = log.SectionKeys("RazuRarevi Log");
    ASSERT_FALSE(keys.empty());
    // The clock stands still: the second slot's line took the first one's key.
    EXPECT_EQ(FromAnsi(log.ReadString("RazuRarevi Log", keys.back())),
              "KeyPart check failed: ZoltmarkenShop: Could not find stored procedure "
              "'PM_KeyInit'.");
  }
}

}  // namespace
}  // namespace mvx
