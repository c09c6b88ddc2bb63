// What one log backup round costs the agent beyond the BACKUP LOG statement itself: a round of
// one slot database (connect, the recovery model, the name check, the statement, disconnect)
// against the bare statement's round trip on an open connection, both through the real ODBC
// driver against the scripted server (which answers at once, so only the agent's own work and
// the wire are measured).
#include <benchmark/benchmark.h>

#include <atomic>
#include <string>

#include "backup/backup_engine.h"
#include "backup/backup_statements.h"
#include "common/clock.h"
#include "common/report_sink.h"
#include "common/text_log.h"
#include "config/settings.h"
#include "db/database.h"
#include "db/query_helpers.h"
#include "db/service_tables.h"
#include "db/sql_connection.h"
#include "support/sql/scripted_sql_server.h"
#include "support/sql/sql_replies.h"
#include "support/temp_dir.h"

namespace {

class NoReports final : public mvx::ReportSink {
 public:
  void SendReport(std::string_view, std::string_view, std::string_view, std::string_view,
                  std::string_view) override {}
};

struct LogBackupRig {
  LogBackupRig() {
    settings.serverName = "(Local)";
    settings.login = "quendr";
    settings.password = "secret";
    settings.connectionDatabase = "TremoLandix";
    settings.databases = {"TremoLandix", "", "", "", "", ""};
    settings.bkPath = backups.dir() + "folder";
    settings.logBackupMinutes = 15;
    database.SetPortOverride(server.port());
    server.addRule("DATABASEPROPERTYEX", mvx::testing::Rows({{""}}, {{"FULL"}}));
  }

  mvx::testing::ScriptedSqlServer server;
  mvx::testing::TempDir logs, backups;
  mvx::SystemClock clock;
  mvx::TextLog textLog{logs.dir(), clock};
  mvx::Settings settings;
  mvx::SqlConnection connection;
  mvx::Database database{connection, settings, textLog};
  mvx::ServiceTables serviceTables{database};
  mvx::SqlQuery sqlQuery{connection};
  NoReports reports;
  std::string installationId = "TL-00042";
  std::string computerName = "DBHOST";
  std::atomic<bool> stopRequested{false};
  mvx::BackupEngine engine{settings,       database,     sqlQuery,      serviceTables, reports,
                           installationId, computerName, stopRequested, clock};
};

// A round of one and of six slot databases: one login serves them all.
void BM_LogBackupRound(benchmark::State& state) {
  LogBackupRig rig;
  const auto slots = static_cast<std::size_t>(state.range(0));
  for (std::size_t i = 1; i < slots; ++i) rig.settings.databases[i] = "Slot" + std::to_string(i);
  for (auto _ : state) rig.engine.RunLogBackups();
  if (rig.server.batches().size() != 2 * slots * static_cast<std::size_t>(state.iterations())) {
    state.SkipWithError("a round did not send two statements per database");
  }
}
BENCHMARK(BM_LogBackupRound)->Arg(1)->Arg(6)->Unit(benchmark::kMicrosecond);

// The statement alone on an open connection.
void BM_BareLogBackupStatement(benchmark::State& state) {
  LogBackupRig rig;
  if (!rig.database.ConnectDatabase()) {
    state.SkipWithError("no connection");
    return;
  }
  const std::string statement =
      mvx::LogBackupStatement("TremoLandix", rig.settings.bkPath + "\\TremoLandix(x).trn");
  for (auto _ : state) {
    if (!mvx::RunStatement(rig.sqlQuery, statement).succeeded) state.SkipWithError("refused");
  }
}
BENCHMARK(BM_BareLogBackupStatement)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
