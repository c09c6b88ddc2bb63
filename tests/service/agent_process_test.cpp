// Runs the built agent as a process: the install switches and a console run
// against the scripted SQL server, stopped by SIGTERM.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <thread>

#include "common/ansi_codec.h"
#include "common/profile_file.h"
#include "common/scramble.h"
#include "support/child_process.h"
#include "support/http/loopback_http_server.h"
#include "support/sql/scripted_sql_server.h"
#include "support/sql/sql_replies.h"
#include "support/temp_dir.h"

namespace mvx {
namespace {

namespace sql = mvx::testing;
using sql::Child;
using namespace std::chrono_literals;

// The receiving end of systemd's notification socket.
class NotifySocket {
 public:
  explicit NotifySocket(std::string path) : path_(std::move(path)) {
    fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path_.c_str());
    bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
  }
  ~NotifySocket() { close(fd_); }
  // Every datagram that has arrived, joined by newlines.
  std::string Received() {
    std::string all;
    char buffer[512];
    for (int i = 0; i < 100; ++i) {
      const ssize_t n = recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
      if (n <= 0) break;
      all.append(buffer, static_cast<std::size_t>(n)).push_back('\n');
    }
    return all;
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  int fd_ = -1;
};

// Waits up to 30 s for the server to receive a batch that begins with `prefix`; true once it has.
bool WaitForBatch(const sql::ScriptedSqlServer& server, std::string_view prefix) {
  const auto received = [&] {
    const std::vector<std::string> texts = server.batchTexts();
    return std::any_of(texts.begin(), texts.end(),
                       [&](const std::string& b) { return b.rfind(prefix, 0) == 0; });
  };
  for (int i = 0; i < 300 && !received(); ++i) std::this_thread::sleep_for(100ms);
  return received();
}

class AgentProcessTest : public ::testing::Test {
 protected:
  AgentProcessTest() {
    agent = dir.file("MvxRazuRarevi");
    std::filesystem::copy_file(MVX_AGENT_BINARY, agent);
    // Every agent run here manages its companion through the scripted systemctl, never the
    // machine's: by default the companion is running and the ticks leave it alone.
    systemctlState.write("state", "LoadState=loaded\nActiveState=active\n");
    setenv("MVX_SYSTEMCTL", MVX_SCRIPTED_SYSTEMCTL, 1);
    setenv("MVX_SCRIPTED_SYSTEMCTL_STATE", systemctlState.file("state").c_str(), 1);
  }
  ~AgentProcessTest() override {
    unsetenv("MVX_SYSTEMCTL");
    unsetenv("MVX_SCRIPTED_SYSTEMCTL_STATE");
  }
  void Put(const std::string& section, const std::string& key, const std::string& value) {
    ProfileFile(dir.file("RazuRarevi.ini"))
        .WriteString(section, ScrambleValue(key), ScrambleValue(ToAnsi(value)));
  }
  // The scripted server and a login: the ticks then do their work.
  // What the agent meets on a server it has not used yet: no service tables, no installation row.
  static void ServeFreshDatabase(sql::ScriptedSqlServer& server) {
    server.addRule("^select C005 from T0246$", sql::Rows({{"C005"}}, {}));
    server.addRule("count\\(", sql::Count(0));
    server.addRule("T0101", sql::Rows({{"C001"}}, {}));
  }
  void PutServer(const sql::ScriptedSqlServer& server) {
    Put("DBServer", "Name", "127.0.0.1," + std::to_string(server.port()));
    Put("DBServer", "ID", "quendr");
    Put("DBServer", "Password", "pw");
  }

  sql::TempDir dir;
  sql::TempDir systemctlState;
  std::string agent;
};

TEST_F(AgentProcessTest, InstallAndUninstallSwitches) {
  sql::TempDir units;
  const std::string env = "MVX_SYSTEMD_UNIT_DIR=" + units.dir();
  {
    Child child(agent, {"/install", "/silent"}, {env});
    EXPECT_EQ(child.Wait(10s), 0);
    EXPECT_EQ(child.output(), "");
    EXPECT_NE(units.read("fMvxBackupMain.service").find("ExecStart=\"" + agent + "\""),
              std::string::npos);
  }
  {
    Child child(agent, {"-UNINSTALL"}, {env});
    EXPECT_EQ(child.Wait(10s), 0);
    EXPECT_EQ(child.output(), "Service uninstalled successfully\n");
    EXPECT_FALSE(units.exists("fMvxBackupMain.service"));
  }
}

TEST_F(AgentProcessTest, ConsoleRunStartsAndStopsOnSigterm) {
  sql::ScriptedSqlServer server;
  ServeFreshDatabase(server);
  // The application asks for its key-part maintenance; the first tick serves it.
  server.addRule(sql::kKeyPartStatusRead, sql::KeyPartStatus("3", "", "", "1000000", "100000000"));
  server.addRule("^select C004 from", sql::Rows({sql::VarChar("C004")}, {{"2"}}));
  server.addRule("^Exec PM_", sql::ProcedureAnswer("1"));
  PutServer(server);
  Put("DBServer", "BackupDB1", "QuendrilaxoMain");

  NotifySocket notify(dir.file("notify.sock"));
  // Support hosts on loopback: nothing leaves the machine.
  Child child(agent, {"-console"},
              {"NOTIFY_SOCKET=" + notify.path(), "MVX_SUPPORT_HOST_PRIMARY=127.0.0.1",
               "MVX_SUPPORT_HOST_SECONDARY=127.0.0.2"});
  ASSERT_TRUE(child.WaitForOutput("RazuRarevi Start", 20s)) << child.output();
  ASSERT_TRUE(child.WaitForOutput("running", 5s)) << child.output();
  ASSERT_TRUE(child.WaitForOutput("[activity] QuendrilaxoMain: KeyPart정리 완료!!!", 20s))
      << child.output();
  kill(child.pid(), SIGUSR1);  // pause, then continue: only the reported state changes
  kill(child.pid(), SIGUSR2);
  kill(child.pid(), SIGTERM);
  EXPECT_EQ(child.Wait(20s), 0) << child.output();
  const std::string states = notify.Received();
  EXPECT_NE(states.find("READY=1"), std::string::npos) << states;
  EXPECT_NE(states.find("STATUS=Paused"), std::string::npos) << states;
  EXPECT_NE(states.find("STOPPING=1"), std::string::npos) << states;
  // Every echoed message carries its time.
  EXPECT_TRUE(std::regex_search(
      child.output(),
      std::regex(R"((^|\n)\d{4}-\d\d-\d\d \d\d:\d\d:\d\d \d{3} \[activity\] RazuRarevi Stop\n)")))
      << child.output();
  const std::vector<std::string> batches = server.batchTexts();
  ASSERT_FALSE(batches.empty());
  EXPECT_NE(batches.back().find("'RazuRarevi Stop'"), std::string::npos);
  EXPECT_EQ(
      std::count_if(batches.begin(), batches.end(),
                    [](const std::string& b) { return b.rfind("Exec PM_KeyInit '", 0) == 0; }),
      6);
  EXPECT_NE(
      std::find(batches.begin(), batches.end(),
                "create table T0246 (C001 int not null,C002 varchar(10) null,C003 varchar(10) "
                "null,C004 varchar(10) null,C005 char(1) null,primary key(C001))"),
      batches.end());
}

// A second SIGTERM cancels a long BACKUP at once: it fails as a refused one,
// the tick ends, the stop is written and the process ends with 0.
TEST_F(AgentProcessTest, SecondSigtermCancelsALongBackup) {
  sql::ScriptedSqlServer server;
  ServeFreshDatabase(server);
  sql::SqlReply longBackup;
  longBackup.delay = 600s;
  server.addRule("^BACKUP DATABASE", longBackup);
  PutServer(server);
  Put("DBServer", "DBPath", "/");
  Put("DBServer", "BackupDB2", "Second");
  Put("RazuRarevi", "BKPath", dir.dir());
  Put("RazuRarevi", "FullType", "3");
  Put("RazuRarevi", "FullTime", "00:00");

  Child child(agent, {"-console"},
              {"MVX_SUPPORT_HOST_PRIMARY=127.0.0.1", "MVX_SUPPORT_HOST_SECONDARY=127.0.0.2"});
  ASSERT_TRUE(child.WaitForOutput("running", 20s)) << child.output();
  std::size_t batches = 0;
  for (int i = 0; i < 300 && batches == 0; ++i) {
    std::this_thread::sleep_for(100ms);
    const std::vector<std::string> texts = server.batchTexts();
    batches = static_cast<std::size_t>(std::count_if(
        texts.begin(), texts.end(), [](auto& b) { return b.rfind("BACKUP DATABASE", 0) == 0; }));
  }
  ASSERT_EQ(batches, 1u) << child.output();
  kill(child.pid(), SIGTERM);
  std::this_thread::sleep_for(200ms);
  kill(child.pid(), SIGTERM);
  // Well inside the 30 s a single request would wait for the statement.
  EXPECT_EQ(child.Wait(20s), 0) << child.output();
  EXPECT_EQ(server.attentions(), 1);
  const std::string& out = child.output();
  const std::size_t failed = out.find("[activity] TremoLandix: Full Backup Fail!!!");
  EXPECT_NE(failed, std::string::npos) << out;
  EXPECT_GT(out.find("[activity] RazuRarevi Stop"), failed) << out;
  const std::vector<std::string> texts = server.batchTexts();
  EXPECT_NE(texts.back().find("'RazuRarevi Stop'"), std::string::npos);
  // Nothing else of the tick ran: the second database was never started.
  EXPECT_TRUE(std::none_of(texts.begin(), texts.end(), [](const std::string& b) {
    return b.find("Second") != std::string::npos;
  }));
}

// A server that takes the TCP connection and never answers: the start's open gives up by its
// login timeout, the first tick tries again, and a stop during that try ends at once.
TEST_F(AgentProcessTest, HungServerTimesOutAndAStopCutsTheHungConnect) {
  sql::ScriptedSqlServer server;
  server.hangLogins(true);
  Put("DBServer", "Name", "127.0.0.1," + std::to_string(server.port()));
  Child child(agent, {"-console"},
              {"MVX_SUPPORT_HOST_PRIMARY=127.0.0.1", "MVX_SUPPORT_HOST_SECONDARY=127.0.0.2"});
  ASSERT_TRUE(child.WaitForOutput("[log] Database 접속실패!!!", 16s)) << child.output();
  ASSERT_TRUE(child.WaitForOutput("running", 10s)) << child.output();
  for (int i = 0; i < 100 && server.hungConnections() < 2; ++i) std::this_thread::sleep_for(100ms);
  ASSERT_EQ(server.hungConnections(), 2) << child.output();  // the first tick's retry
  std::this_thread::sleep_for(200ms);
  kill(child.pid(), SIGTERM);
  EXPECT_EQ(child.Wait(2s), 0) << child.output();
  // The hung server would only keep the last row waiting.
  EXPECT_NE(child.output().find("[log] RazuRarevi Stop\n"), std::string::npos) << child.output();
}

// SIGTERM during the start ends it: nothing is sent after it, READY never comes, exit code 0.
TEST_F(AgentProcessTest, SigtermDuringTheStartEndsIt) {
  struct Case {
    const char* name;
    bool hangLogins;
    const char* slowStatement;  // never answered; the last batch the server gets
  };
  for (const Case& c : {Case{"hung connect", true, "select C005 from T0246"},
                        Case{"slow first statement", false, "select C005 from T0246"},
                        Case{"purge never answers", false, "delete from T0245"}}) {
    SCOPED_TRACE(c.name);
    sql::ScriptedSqlServer server;
    server.hangLogins(c.hangLogins);
    sql::SqlReply slow;
    slow.delay = 600s;
    server.addRule(std::string("^") + c.slowStatement, slow);
    ServeFreshDatabase(server);
    Put("DBServer", "Name", "127.0.0.1," + std::to_string(server.port()));
    NotifySocket notify(dir.file("notify.sock"));
    Child child(agent, {"-console"},
                {"NOTIFY_SOCKET=" + notify.path(), "MVX_SUPPORT_HOST_PRIMARY=127.0.0.1",
                 "MVX_SUPPORT_HOST_SECONDARY=127.0.0.2"});
    const auto reached = [&] {
      const std::vector<std::string> texts = server.batchTexts();
      return server.hungConnections() > 0 ||
             (!texts.empty() && texts.back().starts_with(c.slowStatement));
    };
    for (int i = 0; i < 100 && !reached(); ++i) std::this_thread::sleep_for(100ms);
    ASSERT_TRUE(reached());
    kill(child.pid(), SIGTERM);
    EXPECT_EQ(child.Wait(2s), 0) << child.output();
    const std::vector<std::string> texts = server.batchTexts();
    EXPECT_TRUE(c.hangLogins ? texts.empty() : texts.back().starts_with(c.slowStatement));
    EXPECT_EQ(notify.Received().find("READY=1"), std::string::npos);
    EXPECT_EQ(child.output().find("running"), std::string::npos) << child.output();
    std::filesystem::remove(notify.path());
  }
}

// A cancel the server never acknowledges keeps the tick in the driver: the stop gives up 10 s
// after its cancel, says so in the event log and ends the process with 1.
TEST_F(AgentProcessTest, StopGivesUpOnACancelNeverAcknowledged) {
  sql::ScriptedSqlServer server;
  ServeFreshDatabase(server);
  sql::SqlReply stuck;
  stuck.delay = 600s;
  stuck.ignoreAttention = true;
  server.addRule("^BACKUP DATABASE", stuck);
  PutServer(server);
  Put("DBServer", "DBPath", "/");
  Put("RazuRarevi", "BKPath", dir.dir());
  Put("RazuRarevi", "FullType", "3");
  Put("RazuRarevi", "FullTime", "00:00");
  Child child(agent, {"-console"},
              {"MVX_SUPPORT_HOST_PRIMARY=127.0.0.1", "MVX_SUPPORT_HOST_SECONDARY=127.0.0.2"});
  ASSERT_TRUE(child.WaitForOutput("running", 20s)) << child.output();
  ASSERT_TRUE(WaitForBatch(server, "BACKUP DATABASE")) << child.output();
  kill(child.pid(), SIGTERM);
  std::this_thread::sleep_for(200ms);
  kill(child.pid(), SIGTERM);  // cancels at once
  EXPECT_EQ(child.Wait(45s), 1) << child.output();
  EXPECT_EQ(server.attentions(), 1);
  EXPECT_NE(child.output().find("Service failed on stop: the running work did not end"),
            std::string::npos)
      << child.output();
}

TEST_F(AgentProcessTest, FailedStartIsReportedAndEndsTheProcessWithAnError) {
  sql::ScriptedSqlServer server;
  server.addRule("^select C005 from T0246$", sql::Rows({{"C005"}}, {}));
  server.addRule("count\\(", sql::Count(0));
  server.addRule("T0101", sql::Error(208, "Invalid object name 'TremoLandix.dbo.T0101'."));
  Put("DBServer", "Name", "127.0.0.1," + std::to_string(server.port()));

  // No switch: the service runs in the foreground.
  Child child(agent, {},
              {"MVX_SUPPORT_HOST_PRIMARY=127.0.0.1", "MVX_SUPPORT_HOST_SECONDARY=127.0.0.2"});
  EXPECT_EQ(child.Wait(20s), 1) << child.output();
  EXPECT_NE(child.output().find(
                "Service failed on start: Invalid object name 'TremoLandix.dbo.T0101'.\n"),
            std::string::npos)
      << child.output();
  const std::vector<std::string> batches = server.batchTexts();
  EXPECT_TRUE(std::none_of(batches.begin(), batches.end(), [](const std::string& b) {
    return b.find("'RazuRarevi Start'") != std::string::npos;
  }));
}

// A stop during a key-part procedure lets that call finish (no cancel) and ends the run before
// the next one: no end statement, row, report or log line; C001 stays "2".
TEST_F(AgentProcessTest, StopDuringAKeyPartRunEndsItAtTheNextCall) {
  sql::ScriptedSqlServer server;
  ServeFreshDatabase(server);
  server.addRule(sql::kKeyPartStatusRead, sql::KeyPartStatus("3", "", "", "1010000", "100000000"));
  server.addRule("^select C004 from", sql::Rows({sql::VarChar("C004")}, {}));
  sql::SqlReply slowCall = sql::Rows({sql::VarChar("C001")}, {{"1"}});
  slowCall.delay = 2s;
  server.addRule("^Exec PM_KeyInit 'CT'", slowCall);
  server.addRule("^Exec PM_", sql::ProcedureAnswer("1"));
  PutServer(server);
  Put("DBServer", "BackupDB1", "QuendrilaxoMain");

  Child child(agent, {"-console"},
              {"MVX_SUPPORT_HOST_PRIMARY=127.0.0.1", "MVX_SUPPORT_HOST_SECONDARY=127.0.0.2"});
  ASSERT_TRUE(WaitForBatch(server, "Exec PM_KeyInit 'CT'")) << child.output();
  kill(child.pid(), SIGTERM);
  EXPECT_EQ(child.Wait(20s), 0) << child.output();
  EXPECT_EQ(server.attentions(), 0);
  const std::vector<std::string> texts = server.batchTexts();
  EXPECT_NE(texts.back().find("'RazuRarevi Stop'"), std::string::npos);
  EXPECT_TRUE(std::none_of(texts.begin(), texts.end(), [](const std::string& b) {
    return b.rfind("Exec PM_KeyInit 'HS'", 0) == 0 || b.find("C001 = '1'") != std::string::npos ||
           b.find("C001 = '0'") != std::string::npos || b.find("C023 = '2'") != std::string::npos;
  }));
  EXPECT_EQ(child.output().find("KeyPart정리 완료"), std::string::npos) << child.output();
  EXPECT_EQ(child.output().find("KeyPart check failed"), std::string::npos) << child.output();
}

TEST_F(AgentProcessTest, FirstTickInstallsAndStartsTheMissingCompanion) {
  sql::ScriptedSqlServer server;
  ServeFreshDatabase(server);
  PutServer(server);
  sql::LoopbackHttpServer support("127.0.0.1");
  support.Enqueue(sql::HttpReply(200, "OK", "companion program"));
  support.Enqueue(sql::HttpReply(200, "OK", "driver library"));
  sql::TempDir units;
  systemctlState.write("state", "LoadState=not-found\nOnStart=activating,active\n");

  Child child(agent, {"-console"},
              {"MVX_SUPPORT_HOST_PRIMARY=127.0.0.1", "MVX_SUPPORT_HOST_SECONDARY=127.0.0.2",
               "MVX_SUPPORT_HTTP_PORT=" + std::to_string(support.Port()),
               "MVX_SYSTEMD_UNIT_DIR=" + units.dir()});
  ASSERT_TRUE(child.WaitForOutput("[activity] RidOdadez Start\n", 40s)) << child.output();
  kill(child.pid(), SIGTERM);
  EXPECT_EQ(child.Wait(20s), 0) << child.output();
  EXPECT_EQ(dir.read("Mvx_RidOdadez.exe"), "companion program");
  EXPECT_TRUE(units.exists("RidOdadezMain.service"));
  EXPECT_NE(child.output().find("[log] 0\n"), std::string::npos) << child.output();
  const std::string calls = systemctlState.read("state.calls");
  EXPECT_NE(calls.find("enable RidOdadezMain\nshow"), std::string::npos) << calls;
}

}  // namespace
}  // namespace mvx
