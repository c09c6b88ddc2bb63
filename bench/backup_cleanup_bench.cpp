// One schedule evaluation's cleanup (six slots, four patterns) over a backup
// folder of 10,000 and 100,000 files, against one plain listing of the same
// folder. Nothing is old enough to go, so every evaluation sees the same
// folder: the steady state of every tick.

#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <map>
#include <memory>
#include <string>

#include "backup/backup_engine.h"
#include "common/clock.h"
#include "common/report_sink.h"
#include "common/text_log.h"
#include "config/settings.h"
#include "db/database.h"
#include "db/service_tables.h"
#include "db/sql_connection.h"
#include "support/temp_dir.h"

namespace {

using mvx::testing::TempDir;

const std::array<std::string, 6> kSlots = {"TremoLandix", "Slot2", "Slot3",
                                           "Slot4",       "Slot5", "Slot6"};

// A folder with `count` files: a quarter belong to the six slots, the rest
// to other databases or are no backups at all.
class BackupFolderFixture {
 public:
  explicit BackupFolderFixture(int count) {
    static constexpr const char* kExtensions[] = {".ful", ".inc", ".trf", ".tri", ".bak"};
    for (int i = 0; i < count; ++i) {
      const std::string owner = i % 4 == 0 ? kSlots[static_cast<std::size_t>(i / 4) % kSlots.size()]
                                           : "Archive" + std::to_string(i % 97);
      char stamp[16];
      std::snprintf(stamp, sizeof stamp, "3%07d", i);  // after every cut-off: nothing goes
      const std::string name = owner + "(" + stamp + ")" + kExtensions[i % 5];
      const int fd = ::open(dir.file(name).c_str(), O_CREAT | O_WRONLY, 0644);
      if (fd >= 0) ::close(fd);
    }
  }
  std::string folder() const {
    std::string path = dir.dir();
    path.pop_back();
    return path;
  }

 private:
  TempDir dir;
};

BackupFolderFixture& Folder(int count) {
  static std::map<int, std::unique_ptr<BackupFolderFixture>> folders;
  auto& slot = folders[count];
  if (!slot) slot = std::make_unique<BackupFolderFixture>(count);
  return *slot;
}

class NoReports final : public mvx::ReportSink {
 public:
  void SendReport(std::string_view, std::string_view, std::string_view, std::string_view,
                  std::string_view) override {}
};

// The engine as the service wires it; no statement runs since nothing is deleted.
struct EngineFixture {
  explicit EngineFixture(const std::string& folder) {
    settings.bkPath = folder;
    settings.save = "4";
    settings.databases = kSlots;
  }
  TempDir logs;
  mvx::ManualClock clock{mvx::LocalDateTime::Make(2024, 3, 15, 17, 0, 0)};
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

void BM_PlainListing(benchmark::State& state) {
  const std::string folder = Folder(static_cast<int>(state.range(0))).folder();
  for (auto _ : state) {
    std::size_t entries = 0;
    DIR* dir = opendir(folder.c_str());
    while (dir != nullptr && readdir(dir) != nullptr) ++entries;
    if (dir != nullptr) closedir(dir);
    benchmark::DoNotOptimize(entries);
  }
}

void BM_CleanupEvaluation(benchmark::State& state) {
  EngineFixture fixture(Folder(static_cast<int>(state.range(0))).folder());
  for (auto _ : state) {
    mvx::CleanupRound round = fixture.engine.BeginCleanupRound();
    for (const std::string& slot : fixture.settings.databases) {
      round.RemoveOldBackups("2024-03-15", slot);
    }
  }
}

// For comparison: the same evaluation with a fresh read of the folder per slot.
void BM_CleanupSearchPerSlot(benchmark::State& state) {
  EngineFixture fixture(Folder(static_cast<int>(state.range(0))).folder());
  for (auto _ : state) {
    for (const std::string& slot : fixture.settings.databases) {
      fixture.engine.RemoveOldBackups("2024-03-15", slot);
    }
  }
}

BENCHMARK(BM_PlainListing)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CleanupEvaluation)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CleanupSearchPerSlot)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
