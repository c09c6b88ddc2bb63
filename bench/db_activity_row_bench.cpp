// Cost of one activity row as the service writes it: connect, insert,
// disconnect, through the real ODBC driver against the scripted server.
#include <benchmark/benchmark.h>

#include "common/clock.h"
#include "common/text_log.h"
#include "config/settings.h"
#include "db/database.h"
#include "db/query_helpers.h"
#include "db/service_tables.h"
#include "db/sql_connection.h"
#include "support/sql/scripted_sql_server.h"
#include "support/temp_dir.h"

namespace {

struct ActivityRig {
  ActivityRig() {
    settings.serverName = "(Local)";
    settings.login = "quendr";
    settings.password = "secret";
    settings.connectionDatabase = "TremoLandix";
    database.SetPortOverride(server.port());
  }

  mvx::testing::ScriptedSqlServer server;
  mvx::testing::TempDir dir;
  mvx::SystemClock clock;
  mvx::TextLog textLog{dir.dir(), clock};
  mvx::Settings settings;
  mvx::SqlConnection connection;
  mvx::Database database{connection, settings, textLog};
  mvx::ServiceTables tables{database};
};

void BM_ActivityRow(benchmark::State& state) {
  ActivityRig rig;
  for (auto _ : state) rig.tables.WriteServiceLog("TremoLandix", "Full Backup 완료");
  if (rig.server.batches().size() != static_cast<std::size_t>(state.iterations())) {
    state.SkipWithError("an activity row was not written");
  }
}
BENCHMARK(BM_ActivityRow)->Unit(benchmark::kMicrosecond);

// The insert alone on an open connection: what the row costs beyond the login.
void BM_ActivityInsertOnOpenConnection(benchmark::State& state) {
  ActivityRig rig;
  if (!rig.database.ConnectDatabase()) {
    state.SkipWithError("no connection");
    return;
  }
  mvx::SqlQuery query(rig.connection);
  for (auto _ : state) {
    benchmark::DoNotOptimize(mvx::ExecuteStatement(
        query,
        "insert into T0245 (C002,C003,C004,C005) values ( getDate() ,'TremoLandix' ,'Full "
        "Backup 완료' ,'RazuRarevi' )"));
  }
}
BENCHMARK(BM_ActivityInsertOnOpenConnection)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
