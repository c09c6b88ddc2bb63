// A scripted SQL server that plays a fresh application database, for trying
// the agent by hand: prints its port, then every batch it receives. With
// MVX_DEMO_HANG set, batches matching that pattern are never answered (as one
// waiting on a lock held by another session; a cancel is still taken).
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>

#include "support/sql/scripted_sql_server.h"
#include "support/sql/sql_replies.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;

}  // namespace

int main() {
  using mvx::testing::Count;
  using mvx::testing::Rows;
  using mvx::testing::SqlColumn;
  std::signal(SIGTERM, [](int) { g_stop = 1; });
  std::signal(SIGINT, [](int) { g_stop = 1; });

  mvx::testing::ScriptedSqlServer server;
  if (const char* hang = std::getenv("MVX_DEMO_HANG"); hang != nullptr && hang[0] != '\0') {
    mvx::testing::SqlReply never;
    never.delay = std::chrono::hours(1);
    server.addRule(hang, never);
  }
  server.addRule("^select C005 from T0246$", Rows({{"C005"}}, {}));
  server.addRule("sysdatabases", Count(0));
  server.addRule("T0101", Rows({{"C001"}}, {{"DEMO-INSTALL"}}));
  server.addRule("from sysobjects", Count(0));
  server.addRule("^select count\\(\\*\\) from T0246$", Count(0));
  server.addRule("^select name from sysfiles", Rows({{"name"}}, {{"TremoLandix_Log"}}));
  mvx::testing::SqlReply backup;
  backup.infos = {{3211, "100 percent processed.", 0},
                  {3014, "BACKUP DATABASE successfully processed.", 0}};
  server.addRule("^backup database", backup);
  // Log backups (with LogBackup on) ask for the recovery model first.
  server.addRule("DATABASEPROPERTYEX", Rows({{""}}, {{"FULL"}}));
  // What -check reads.
  server.addRule("@@SERVERNAME", Rows({{""}, {""}}, {{"DEMO", "16.0.4135.4"}}));
  server.addRule("from sys\\.databases",
                 Rows({{"state_desc"}, {"recovery_model_desc"}}, {{"ONLINE", "FULL"}}));
  server.addRule("IS_SRVROLEMEMBER", Rows({{""}, {""}, {""}, {""}}, {{"1", "1", "1", "1"}}));
  server.addRule("msdb\\.dbo\\.backupset", Rows({{"backup_finish_date"}, {"file"}}, {}));
  server.addRule("xp_fileexist",
                 Rows({{"File Exists"}, {"File is a Directory"}, {"Parent"}}, {{"0", "1", "1"}}));

  // The headers of the Wine stage's backups of 금고DB.
  auto header = [](std::string type, std::string set, std::string base) {
    return Rows({{"DatabaseName"}, {"BackupType"}, {"BackupSetGUID"}, {"DifferentialBaseGUID"}},
                {{"금고DB", std::move(type), std::move(set), std::move(base)}});
  };
  server.addRule("HEADERONLY.*금고DB\\(20240301\\)", header("1", "G1", ""));
  server.addRule("HEADERONLY.*금고DB\\(20240308\\)", header("1", "G8", ""));
  server.addRule("HEADERONLY.*금고DB\\(20240312\\)", header("5", "D12", "G8"));
  // 장부DB with log backups after its differential, their LSNs chaining, for a restore to a moment.
  auto logged = [](std::string type, std::string set, std::string base, std::string first,
                   std::string last, std::string finished) {
    return Rows({{"DatabaseName"},
                 {"BackupType"},
                 {"BackupSetGUID"},
                 {"DifferentialBaseGUID"},
                 {"FirstLSN"},
                 {"LastLSN"},
                 {"BackupFinishDate"}},
                {{"장부DB", std::move(type), std::move(set), std::move(base), std::move(first),
                  std::move(last), std::move(finished)}});
  };
  server.addRule("HEADERONLY.*장부DB\\(20240310\\)",
                 logged("1", "J10", "", "10", "90", "2024-03-10 17:00:20.000"));
  server.addRule("HEADERONLY.*장부DB\\(20240311\\)",
                 logged("5", "J11", "J10", "95", "150", "2024-03-11 17:00:20.000"));
  server.addRule("HEADERONLY.*장부DB\\(20240311-171500\\)",
                 logged("2", "L1", "", "100", "200", "2024-03-11 17:15:05.000"));
  server.addRule("HEADERONLY.*장부DB\\(20240311-173000\\)",
                 logged("2", "L2", "", "200", "300", "2024-03-11 17:30:05.000"));

  std::cout << "port " << server.port() << std::endl;
  std::size_t shown = 0;
  while (!g_stop) {
    const auto batches = server.batches();
    for (; shown < batches.size(); ++shown) {
      std::cout << "[sql:" << batches[shown].database << "] " << batches[shown].text << std::endl;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  return 0;
}
