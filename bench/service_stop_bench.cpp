// How long the agent takes to end after SIGTERM, as a whole process against
// the scripted SQL server: idle, during a tick of short statements, during a
// long statement (one request: the 30 s grace, then the cancel), after a
// second request, during a connect to a server that never answers, and at the
// very start of such a connect (the worst case: a connect is cut only once it
// has run half a second, so that a server that answers keeps its row). Each
// case runs five times (min, median and max are reported); the time is from
// the (last) SIGTERM to the exit, and a run whose exit code is not 0 is an
// error. A new case is a value of When, its set-up in StopRig and its wait in
// ReachCase, and one registration below.
#include <benchmark/benchmark.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "common/ansi_codec.h"
#include "common/profile_file.h"
#include "common/scramble.h"
#include "support/child_process.h"
#include "support/sql/scripted_sql_server.h"
#include "support/sql/sql_replies.h"
#include "support/temp_dir.h"

namespace {

namespace sql = mvx::testing;
using namespace std::chrono_literals;

enum class When {
  kIdle,
  kShortStatements,
  kLongStatement,
  kSecondRequest,
  kHungConnect,
  kConnectStart
};

struct StopRig {
  explicit StopRig(When when) {
    agent = dir.file("MvxRazuRarevi");
    std::filesystem::copy_file(MVX_AGENT_BINARY, agent);
    server.addRule("^select C005 from T0246$", sql::Rows({{"C005"}}, {}));
    server.addRule("count\\(", sql::Count(0));
    server.addRule("T0101", sql::Rows({{"C001"}}, {}));
    sql::SqlReply backup;
    backup.delay = when == When::kShortStatements ? 300ms : 600s;
    server.addRule("^BACKUP DATABASE", backup);
    Put("DBServer", "Name", "127.0.0.1," + std::to_string(server.port()));
    Put("DBServer", "ID", "quendr");
    Put("DBServer", "Password", "pw");
    Put("DBServer", "DBPath", "/");
    for (int slot = 2; slot <= 6; ++slot) {
      Put("DBServer", "BackupDB" + std::to_string(slot), "Db" + std::to_string(slot));
    }
    Put("RazuRarevi", "BKPath", dir.dir());
    const bool backups =
        when != When::kIdle && when != When::kHungConnect && when != When::kConnectStart;
    Put("RazuRarevi", "FullType", backups ? "3" : "0");
    Put("RazuRarevi", "FullTime", "00:00");
  }
  void Put(const std::string& section, const std::string& key, const std::string& value) {
    mvx::ProfileFile(dir.file("RazuRarevi.ini"))
        .WriteString(section, mvx::ScrambleValue(key), mvx::ScrambleValue(mvx::ToAnsi(value)));
  }
  bool BackupRunning() {
    for (int i = 0; i < 300; ++i) {
      const std::vector<std::string> texts = server.batchTexts();
      if (std::any_of(texts.begin(), texts.end(),
                      [](const std::string& b) { return b.rfind("BACKUP DATABASE", 0) == 0; })) {
        return true;
      }
      std::this_thread::sleep_for(20ms);
    }
    return false;
  }

  // Brings the running agent to the moment its case is measured from; false when it never came.
  bool ReachCase(When when) {
    switch (when) {
      case When::kIdle:
        std::this_thread::sleep_for(4s);  // after the first tick
        return true;
      case When::kHungConnect:
        // The start has closed its connection; the first tick's open meets the hung server.
        server.hangLogins(true);
        for (int i = 0; i < 300 && server.hungConnections() == 0; ++i) {
          std::this_thread::sleep_for(20ms);
        }
        std::this_thread::sleep_for(200ms);
        return server.hungConnections() > 0;
      case When::kConnectStart:
        // The moment the server has taken the connection: the connect has only begun.
        server.hangLogins(true);
        for (int i = 0; i < 30000 && server.hungConnections() == 0; ++i) {
          std::this_thread::sleep_for(1ms);
        }
        return server.hungConnections() > 0;
      case When::kShortStatements:
        if (!BackupRunning()) return false;
        std::this_thread::sleep_for(450ms);  // into the second database
        return true;
      case When::kLongStatement:
      case When::kSecondRequest:
        return BackupRunning();
    }
    return false;
  }

  sql::TempDir dir;
  sql::ScriptedSqlServer server;
  std::string agent;
};

void BM_StopAfterSigterm(benchmark::State& state, When when) {
  for (auto _ : state) {
    StopRig rig(when);
    // The companion runs as far as the scripted systemctl tells; the machine's systemd is left
    // alone.
    rig.dir.write("systemctl.state", "LoadState=loaded\nActiveState=active\n");
    sql::Child child(rig.agent, {"-console"},
                     {"MVX_SUPPORT_HOST_PRIMARY=127.0.0.1", "MVX_SUPPORT_HOST_SECONDARY=127.0.0.2",
                      std::string("MVX_SYSTEMCTL=") + MVX_SCRIPTED_SYSTEMCTL,
                      "MVX_SCRIPTED_SYSTEMCTL_STATE=" + rig.dir.file("systemctl.state")});
    if (!child.WaitForOutput("running", 30s)) {
      state.SkipWithError("the agent did not start");
      return;
    }
    if (!rig.ReachCase(when)) {
      state.SkipWithError("the agent never reached the case");
      return;
    }
    if (when == When::kSecondRequest) {
      // Apart, or the two would merge into one pending signal.
      kill(child.pid(), SIGTERM);
      std::this_thread::sleep_for(200ms);
    }
    const auto begun = std::chrono::steady_clock::now();
    kill(child.pid(), SIGTERM);
    const int exitCode = child.Wait(120s);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - begun;
    state.SetIterationTime(took.count());
    state.counters["exit_code"] = exitCode;
    if (exitCode != 0) state.SkipWithError("the agent did not end with 0");
  }
}

double Min(const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); }
double Max(const std::vector<double>& v) { return *std::max_element(v.begin(), v.end()); }

// Five runs of one case, reported as their min, median and max.
void FiveRuns(benchmark::internal::Benchmark* b) {
  b->Iterations(1)
      ->Repetitions(5)
      ->ComputeStatistics("min", Min)
      ->ComputeStatistics("max", Max)
      ->ReportAggregatesOnly(true)
      ->UseManualTime()
      ->Unit(benchmark::kMillisecond);
}

BENCHMARK_CAPTURE(BM_StopAfterSigterm, idle, When::kIdle)->Apply(FiveRuns);
BENCHMARK_CAPTURE(BM_StopAfterSigterm, short_statements, When::kShortStatements)->Apply(FiveRuns);
BENCHMARK_CAPTURE(BM_StopAfterSigterm, long_statement, When::kLongStatement)->Apply(FiveRuns);
BENCHMARK_CAPTURE(BM_StopAfterSigterm, second_request, When::kSecondRequest)->Apply(FiveRuns);
BENCHMARK_CAPTURE(BM_StopAfterSigterm, hung_connect, When::kHungConnect)->Apply(FiveRuns);
BENCHMARK_CAPTURE(BM_StopAfterSigterm, connect_start, When::kConnectStart)->Apply(FiveRuns);

// ---- SIGTERM as the start finishes (kept apart from the cases above) ----
// The start's last row is answered 200 ms after it arrives; SIGTERM comes from 60 ms before to
// 60 ms after that answer, a step further each iteration. Whether the start or the stop loop
// takes the signal, the agent must end with 0, within a second of the start's end: the time
// reported is from the later of the signal and the answer to the exit (the mean of the 50;
// "worst_ms" is the longest, "late" counts the runs past a second).
void BM_SigtermAsTheStartFinishes(benchmark::State& state) {
  constexpr auto kRowDelay = 200ms;
  int iteration = 0;
  int late = 0;
  double worst = 0;
  for (auto _ : state) {
    sql::TempDir dir;
    const std::string agent = dir.file("MvxRazuRarevi");
    std::filesystem::copy_file(MVX_AGENT_BINARY, agent);
    sql::ScriptedSqlServer server;
    server.addRule("^select C005 from T0246$", sql::Rows({{"C005"}}, {}));
    server.addRule("count\\(", sql::Count(0));
    server.addRule("T0101", sql::Rows({{"C001"}}, {}));
    sql::SqlReply startRow;
    startRow.rowCount = 1;
    startRow.delay = kRowDelay;
    server.addRule("'RazuRarevi Start'", startRow);
    const auto put = [&](const std::string& key, const std::string& value) {
      mvx::ProfileFile(dir.file("RazuRarevi.ini"))
          .WriteString("DBServer", mvx::ScrambleValue(key), mvx::ScrambleValue(mvx::ToAnsi(value)));
    };
    put("Name", "127.0.0.1," + std::to_string(server.port()));
    put("ID", "quendr");
    put("Password", "pw");
    dir.write("systemctl.state", "LoadState=loaded\nActiveState=active\n");
    sql::Child child(agent, {"-console"},
                     {"MVX_SUPPORT_HOST_PRIMARY=127.0.0.1", "MVX_SUPPORT_HOST_SECONDARY=127.0.0.2",
                      std::string("MVX_SYSTEMCTL=") + MVX_SCRIPTED_SYSTEMCTL,
                      "MVX_SCRIPTED_SYSTEMCTL_STATE=" + dir.file("systemctl.state")});
    const auto startRowSent = [&] {
      const std::vector<std::string> texts = server.batchTexts();
      return !texts.empty() && texts.back().find("'RazuRarevi Start'") != std::string::npos;
    };
    for (int i = 0; i < 30000 && !startRowSent(); ++i) std::this_thread::sleep_for(1ms);
    if (!startRowSent()) {
      state.SkipWithError("the start never sent its row");
      return;
    }
    const auto answered = std::chrono::steady_clock::now() + kRowDelay;
    const auto signalAt = answered - 60ms + std::chrono::milliseconds(iteration++ % 13 * 10);
    std::this_thread::sleep_until(signalAt);
    kill(child.pid(), SIGTERM);
    const int exitCode = child.Wait(120s);
    // Zero when the signal ended the start before its answer.
    const std::chrono::duration<double> took =
        std::max(std::chrono::steady_clock::duration::zero(),
                 std::chrono::steady_clock::now() - std::max(answered, signalAt));
    if (took > 1s) ++late;
    worst = std::max(worst, took.count());
    state.SetIterationTime(took.count());
    if (exitCode != 0) state.SkipWithError("the agent did not end with 0");
  }
  state.counters["late"] = late;
  state.counters["worst_ms"] = worst * 1000;
}

BENCHMARK(BM_SigtermAsTheStartFinishes)
    ->Iterations(50)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// ---- A stop during a key-part run (kept apart from the cases above) ----
// Each procedure call takes a second; SIGTERM comes while the second call runs. The run ends
// before the third, so the stop takes at most about one call, never the 30 s grace.
void BM_StopDuringKeyPartRun(benchmark::State& state) {
  for (auto _ : state) {
    sql::TempDir dir;
    const std::string agent = dir.file("MvxRazuRarevi");
    std::filesystem::copy_file(MVX_AGENT_BINARY, agent);
    sql::ScriptedSqlServer server;
    server.addRule("^select C005 from T0246$", sql::Rows({{"C005"}}, {}));
    server.addRule("count\\(", sql::Count(0));
    server.addRule("T0101", sql::Rows({{"C001"}}, {}));
    server.addRule(sql::kKeyPartStatusRead,
                   sql::KeyPartStatus("3", "", "", "1000000", "100000000"));
    server.addRule("^select C004 from", sql::Rows({sql::VarChar("C004")}, {}));
    sql::SqlReply call = sql::Rows({sql::VarChar("C001")}, {{"1"}});
    call.delay = 1s;
    server.addRule("^Exec PM_", call);
    const auto put = [&](const std::string& key, const std::string& value) {
      mvx::ProfileFile(dir.file("RazuRarevi.ini"))
          .WriteString("DBServer", mvx::ScrambleValue(key), mvx::ScrambleValue(mvx::ToAnsi(value)));
    };
    put("Name", "127.0.0.1," + std::to_string(server.port()));
    put("ID", "quendr");
    put("Password", "pw");
    put("BackupDB1", "QuendrilaxoMain");
    dir.write("systemctl.state", "LoadState=loaded\nActiveState=active\n");
    sql::Child child(agent, {"-console"},
                     {"MVX_SUPPORT_HOST_PRIMARY=127.0.0.1", "MVX_SUPPORT_HOST_SECONDARY=127.0.0.2",
                      std::string("MVX_SYSTEMCTL=") + MVX_SCRIPTED_SYSTEMCTL,
                      "MVX_SCRIPTED_SYSTEMCTL_STATE=" + dir.file("systemctl.state")});
    const auto secondCall = [&] {
      const std::vector<std::string> texts = server.batchTexts();
      return std::any_of(texts.begin(), texts.end(), [](const std::string& b) {
        return b.rfind("Exec PM_KeyInit 'CT'", 0) == 0;
      });
    };
    for (int i = 0; i < 600 && !secondCall(); ++i) std::this_thread::sleep_for(50ms);
    if (!secondCall()) {
      state.SkipWithError("the key-part run did not reach its second call");
      return;
    }
    const auto begun = std::chrono::steady_clock::now();
    kill(child.pid(), SIGTERM);
    const int exitCode = child.Wait(120s);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - begun;
    state.SetIterationTime(took.count());
    if (exitCode != 0) state.SkipWithError("the agent did not end with 0");
  }
}

BENCHMARK(BM_StopDuringKeyPartRun)
    ->Iterations(1)
    ->Repetitions(5)
    ->ComputeStatistics("min",
                        [](const std::vector<double>& v) {
                          return *std::min_element(v.begin(), v.end());
                        })
    ->ComputeStatistics("max",
                        [](const std::vector<double>& v) {
                          return *std::max_element(v.begin(), v.end());
                        })
    ->ReportAggregatesOnly(true)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
