// A season of 120 days driven tick by tick with a simulated clock: the service module, the
// scripted SQL server (which writes the backup files) and the loopback support servers, with
// the faults of a seeded plan. MVX_SIM_SEED=<number> replays a season; "random" draws one.

#include <sys/inotify.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <regex>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "common/ansi_codec.h"
#include "common/date_text.h"
#include "common/profile_file.h"
#include "common/scramble.h"
#include "common/text_util.h"
#include "season_fault_plan.h"
#include "service/tf_mvx_backup_main.h"
#include "support/fake_service_control.h"
#include "support/http/line_server.h"
#include "support/http/loopback_http_server.h"
#include "support/sql/scripted_sql_server.h"
#include "support/sql/sql_replies.h"
#include "support/temp_dir.h"

namespace mvx {
namespace {

namespace fs = std::filesystem;
namespace sql = mvx::testing;
using season::Fault;
using season::FaultPlan;
using season::TickFaults;

constexpr int kSeasonDays = 120;
constexpr int kReplayDays = 20;  // replayed to show that the seed alone decides the trace
constexpr std::uint64_t kDefaultSeed = 20240201;
// A Thursday; the season runs through three month ends, 29 February among them.
const LocalDateTime kFirstDay = LocalDateTime::Make(2024, 2, 1);
constexpr int kTimerInt = 1800;
constexpr int kRetentionDays = 7;  // Save "1"
constexpr int kSlowReplyMs = 150;  // the support server's answer when it is slow
constexpr int kLinkWaitMs = 40;    // every wait of the link, so a slow server costs little
constexpr std::uint64_t kGiB = 1024ULL * 1024 * 1024;

// Names that need brackets, doubled quotes, CP949 bytes and cutting to the column width.
const std::array<std::string, 6> kSlots = {"TremoLandix",
                                           "회계자료",
                                           "Sales Data",
                                           "O'Brien",
                                           "ArchiveOfTheLongestRetention2024",
                                           "재고관리시스템데이터베이스"};
const std::array<std::string, 4> kExtensions = {".ful", ".inc", ".trf", ".tri"};
// Files in the backup folder that are not the cleanup's to delete: not its exact names, of
// another database, or without a write bit (kept as read-only files are on Windows).
const std::vector<std::string> kForeignFiles = {
    "Foo(1)(20240315).ful",       "notes.txt",
    "TremoLandix2(20230101).ful", "TremoLandix.ful",
    "Sales Data(20230101).txt",   "TremoLandix(1)(20240101).ful",
    "Sales Data(2023).ful",       "회계자료(2024013).inc"};
const std::string kForeignFolder = "TremoLandix(20230102).inc";
const std::string kReadOnlyFile = "O'Brien(20231201).ful";

// The outcome rows of a backup: whether it was a full one, and whether it succeeded.
const std::map<std::string, std::pair<bool, bool>> kOutcomes = {
    {"Full Backup 완료", {true, true}},
    {"Full Backup Fail!!!", {true, false}},
    {"Increment Backup 완료", {false, true}},
    {"Increment Backup Fail!!!", {false, false}}};
const char kDiskWarning[] = "Disk Space 경고!!!";

LocalDateTime At(long long seasonTime) { return AddMilliseconds(kFirstDay, seasonTime * 1000); }
// The stamp of a backup file name from `daysBefore` days before a time.
std::string Stamp(const LocalDateTime& t, int daysBefore = 0) {
  return DateStamp(FormatDate(AddMilliseconds(t, -daysBefore * 86400000LL)));
}
bool FullDay(const LocalDateTime& t) { return t.weekday == 2 || t.weekday == 5; }
bool Due(bool full, const LocalDateTime& t) {
  return full ? FullDay(t) && FormatTimeOfDay(t) >= "01:30" : FormatTimeOfDay(t) >= "17:00";
}
std::string What(bool full, std::size_t slot) {
  return std::string(full ? "full" : "differential") + " backup of " + kSlots[slot];
}

// Support hosts on loopback that answer pings unless the plan makes them silent.
struct SeasonPinger final : Pinger {
  PingResult Ping(std::string_view) override {
    if (up) return PingResult{true, "127.0.0.1"};
    ++unanswered;
    return {};
  }
  std::atomic<bool> up{true};
  std::atomic<int> unanswered{0};
};

// Opens and creations under the text log's name in the program folder: while a folder stands
// in its place, each is an attempt of the service to read or write its log.
class LogTouches {
 public:
  explicit LogTouches(const fs::path& folder) : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    if (fd_ >= 0) inotify_add_watch(fd_, folder.c_str(), IN_OPEN | IN_CREATE);
  }
  ~LogTouches() {
    if (fd_ >= 0) close(fd_);
  }
  LogTouches(const LogTouches&) = delete;
  LogTouches& operator=(const LogTouches&) = delete;

  // Those since the last call.
  int Take() {
    int count = 0;
    alignas(inotify_event) char buffer[16384];
    for (int reads = 0; fd_ >= 0 && reads < 1000; ++reads) {
      const ssize_t n = read(fd_, buffer, sizeof buffer);
      if (n <= 0) break;
      for (ssize_t at = 0; at < n;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        if (event->len > 0 && std::string_view(event->name).starts_with("RazuRarevi.Log")) ++count;
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      }
    }
    return count;
  }

 private:
  int fd_;
};

// Bytes of UTF-8 text in CP949, counted without the service's codec: ASCII takes one byte,
// every other character CP949 holds (Hangul among them) two.
std::size_t Cp949Width(std::string_view utf8) {
  std::size_t width = 0;
  for (const char c : utf8) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      ++width;
    } else if ((byte & 0xC0) != 0x80) {
      width += 2;
    }
  }
  return width;
}

struct RecordingEventLog final : EventLog {
  void Error(std::string_view source, std::string_view message) override {
    std::lock_guard lock(mutex);
    entries.push_back(std::string(source) + ": " + std::string(message));
  }
  std::mutex mutex;
  std::vector<std::string> entries;
};

using FaultCounts = std::array<int, static_cast<std::size_t>(Fault::kCount)>;

// What one tick sent and did.
struct TickRecord {
  long long time = 0;
  TickFaults faults;
  std::vector<std::string> batches;
  std::vector<std::string> deleted;  // entries of the backup folder that went away
  FaultCounts met{};                 // how often the service ran into each fault
};

// One season: the module and its servers, run tick by tick through the plan.
class Season {
 public:
  // With `logBackupMinutes` the log backups run between the ticks, on their own clock.
  Season(const FaultPlan& plan, const sql::TempDir& exe, const sql::TempDir& backups,
         int logBackupMinutes = 0)
      : plan_(plan), exe_(exe), backups_(backups), logBackupMinutes_(logBackupMinutes) {
    WriteSettings();
    SeedBackupFolder();
    folder_ = ListFolder();
    server_.createBackupFiles(backups_.path().string());
  }

  void Run(int days) {
    ServiceOptions options;
    options.exeDir = exe_.dir();
    // Ticks come only from the loop below: the timer never fires on its own.
    options.firstTickDelay = std::chrono::hours(24);
    options.timerUnit = std::chrono::hours(1);
    options.databasePort = server_.port();
    options.endpoints.primaryHost = options.endpoints.secondaryHost = "127.0.0.1";
    options.endpoints.httpPort = http_.Port();
    options.endpoints.linePort = line_.Port();
    options.endpoints.httpConnectTimeoutMs = options.endpoints.httpReadTimeoutMs = kLinkWaitMs;
    options.endpoints.exchangeWaitMs = options.endpoints.sendWaitMs = kLinkWaitMs;
    options.pinger = &pinger_;
    options.serviceControl = &companion_;
    options.freeSpace = [this](std::string_view) { return freeBytes_.load(); };
    TfMvxBackupMain module(clock_, eventLog, options);

    Apply(plan_.At(plan_.StartTime()), plan_.StartTime());
    module.ServiceStart();
    startBatches = server_.batchTexts();
    long long nextLog = plan_.StartTime() + logBackupMinutes_ * 60LL;
    for (long long time = plan_.StartTime() + 3; time < days * FaultPlan::kDay;) {
      // The log backups due before the tick, each round (a minute) counted from the end of
      // the one before; a tick due meanwhile waits for the round.
      for (; logBackupMinutes_ > 0 && nextLog <= time;) {
        TickRecord& round = logRounds.emplace_back(TickRecord{nextLog, plan_.At(nextLog), {}, {}});
        Apply(round.faults, nextLog);
        server_.clearRecords();
        module.LogBackupTimer();
        round.batches = server_.batchTexts();
        time = std::max(time, nextLog + 60);
        nextLog += 60 + logBackupMinutes_ * 60LL;
      }
      if (logBackupMinutes_ > 0) folder_ = ListFolder();
      TickRecord& tick = ticks.emplace_back(TickRecord{time, plan_.At(time), {}, {}});
      Apply(tick.faults, time);
      server_.clearRecords();
      logTouches_.Take();
      const FaultCounts countsBefore = Encounters(tick.faults);
      module.Timer1Timer();
      const FaultCounts countsAfter = Encounters(tick.faults);
      tick.batches = server_.batchTexts();
      for (std::size_t f = 0; f < tick.met.size(); ++f) {
        tick.met[f] = countsAfter[f] - countsBefore[f];
      }
      tick.met[static_cast<int>(Fault::kLogUnwritable)] = logTouches_.Take();
      tick.met[static_cast<int>(Fault::kLowDisk)] = static_cast<int>(std::count_if(
          tick.batches.begin(), tick.batches.end(),
          [](const std::string& batch) { return batch.find(kDiskWarning) != std::string::npos; }));
      // Nothing but the tick changes the folder.
      std::set<std::string> after = ListFolder();
      std::set_difference(folder_.begin(), folder_.end(), after.begin(), after.end(),
                          std::back_inserter(tick.deleted));
      folder_ = std::move(after);
      // The interval counts from the end of a tick; a backup takes a minute.
      const auto backups = std::count_if(
          tick.batches.begin(), tick.batches.end(),
          [](const std::string& batch) { return UpperAscii(batch.substr(0, 7)) == "BACKUP "; });
      time += 2 + 60 * backups + (tick.faults.Has(Fault::kSupportSlow) ? 30 : 0);
      // Log backups due during the tick wait for its end.
      nextLog = std::max(nextLog, time);
      time += kTimerInt;
    }
    SetLogWritable(true);
  }

  // Everything the season sent and deleted, tick by tick, up to a time.
  std::vector<std::string> Trace(long long until) const {
    std::vector<std::string> trace = startBatches;
    for (const TickRecord& tick : ticks) {
      if (tick.time >= until) break;
      trace.push_back("tick " + FormatLogKey(At(tick.time)));
      trace.insert(trace.end(), tick.batches.begin(), tick.batches.end());
      for (const std::string& name : tick.deleted) trace.push_back("deleted " + name);
    }
    return trace;
  }

  std::set<std::string> ListFolder() const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(backups_.path())) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }

  std::vector<std::string> startBatches;
  std::vector<TickRecord> ticks;
  std::vector<TickRecord> logRounds;  // with log backups on
  RecordingEventLog eventLog;

 private:
  // The counts of the faults dealt out so far; the log and the disk are counted apart. A support
  // server that is down or slow fails every connection made to it, so those are counted.
  FaultCounts Encounters(const TickFaults& faults) const {
    const sql::SqlFaultCounts sqlFaults = server_.faultCounts();
    FaultCounts counts{};
    counts[static_cast<int>(Fault::kServerDown)] = sqlFaults.closedWhileDown;
    counts[static_cast<int>(Fault::kLoginRefused)] = sqlFaults.refusedLogins;
    counts[static_cast<int>(Fault::kBackupRefused)] = sqlFaults.errorReplies;
    counts[static_cast<int>(Fault::kBackupDropped)] = sqlFaults.droppedBatches;
    // The line server's record is copied whole: only while it fails.
    const int supportConnections =
        faults.Has(Fault::kSupportDown) || faults.Has(Fault::kSupportSlow)
            ? static_cast<int>(line_.Received().size()) + http_.ConnectionCount()
            : 0;
    counts[static_cast<int>(Fault::kSupportDown)] = supportConnections + pinger_.unanswered;
    counts[static_cast<int>(Fault::kSupportSlow)] = supportConnections;
    return counts;
  }

  void WriteSettings() {
    std::vector<std::string> server = {"Name=127.0.0.1", "ID=quendr", "Password=pw", "DBPath=/"};
    for (std::size_t slot = 0; slot < kSlots.size(); ++slot) {
      server.push_back("BackupDB" + std::to_string(slot + 1) + "=" + kSlots[slot]);
    }
    std::vector<std::string> own = {"FullType=2", "FullDay1=화",    "FullDay2=금", "FullTime=01:30",
                                    "IncType=3",  "IncBTime=17:00", "Save=1"};
    own.push_back("BKPath=" + backups_.path().string());
    own.push_back("TimerInt=" + std::to_string(kTimerInt));
    if (logBackupMinutes_ > 0) own.push_back("LogBackup=" + std::to_string(logBackupMinutes_));
    ProfileFile ini(exe_.file("RazuRarevi.ini"));
    for (const auto& [section, entries] :
         {std::pair{"DBServer", server}, std::pair{"RazuRarevi", own}}) {
      for (const std::string& entry : entries) {
        const std::size_t at = entry.find('=');
        ini.WriteString(section, ScrambleValue(entry.substr(0, at)),
                        ScrambleValue(ToAnsi(entry.substr(at + 1))));
      }
    }
  }

  // Backups of every slot and kind from before the season, some in other letter cases,
  // and files the cleanup must leave alone.
  void SeedBackupFolder() {
    for (const std::string& slot : kSlots) {
      for (const std::string& extension : kExtensions) {
        // A kept ".trf" of long ago would keep every log backup after it.
        if (logBackupMinutes_ > 0 && extension == ".trf") continue;
        for (int daysBefore : {40, 20, 9, 3}) {
          const std::string name = daysBefore == 20 ? UpperAscii(slot) : slot;
          backups_.write(name + "(" + Stamp(kFirstDay, daysBefore) + ")" + extension, "old backup");
        }
      }
    }
    for (const std::string& name : kForeignFiles) backups_.write(name, "not a backup");
    fs::create_directory(backups_.path() / kForeignFolder);
    backups_.write(kReadOnlyFile, "old backup");
    fs::permissions(backups_.path() / kReadOnlyFile, fs::perms::owner_read | fs::perms::group_read);
  }

  void Apply(const TickFaults& faults, long long time) {
    clock_.Set(At(time));
    server_.setDown(faults.Has(Fault::kServerDown));
    server_.refuseLogins(faults.Has(Fault::kLoginRefused));
    SetRules(faults);
    pinger_.up = !faults.supportHostsSilent;
    const bool down = faults.Has(Fault::kSupportDown), slow = faults.Has(Fault::kSupportSlow);
    using Answer = sql::LineServer::Answer;
    line_.SetAnswer(down   ? Answer::kClose
                    : slow ? Answer::kSilent
                           : Answer::kReply,
                    "012PNG1013PNG");
    const sql::HttpScriptedReply valid = sql::HttpReply(200, "OK", "1");
    http_.SetFallbackReply(down   ? sql::RawReply("")
                           : slow ? sql::Delayed(valid, kSlowReplyMs)
                                  : valid);
    freeBytes_ = faults.Has(Fault::kLowDisk) ? 1 * kGiB : 200 * kGiB;
    SetLogWritable(!faults.Has(Fault::kLogUnwritable));
  }

  // The server's answers; rebuilt only when they change, as compiling them is not cheap.
  void SetRules(const TickFaults& faults) {
    const auto key =
        std::make_tuple(faults.backupRefused, faults.backupDropped, faults.transportMode);
    if (key == rulesKey_) return;
    rulesKey_ = key;
    server_.clearRules();
    for (std::size_t slot = 0; slot < kSlots.size(); ++slot) {
      if (((faults.backupRefused | faults.backupDropped) >> slot & 1) == 0) continue;
      sql::SqlReply reply;
      reply.infos = {{3211, "10 percent processed.", 0}};
      reply.dropConnection = (faults.backupDropped >> slot & 1) != 0;
      if (!reply.dropConnection) {
        reply.error = sql::SqlMessage{3013, "BACKUP DATABASE is terminating abnormally.", 16};
      }
      server_.addRule("^backup database \\[" + kSlots[slot] + "\\]", reply);
    }
    server_.addRule("^select C005 from T0246$", sql::Rows({{"C005"}}, {{faults.transportMode}}));
    server_.addRule("^select count\\(\\*\\) from master\\.dbo\\.sysdatabases", sql::Count(0));
    server_.addRule("^select C001 from .*\\.dbo\\.T0101", sql::Rows({{"C001"}}, {{"INST-7"}}));
    server_.addRule("from sysobjects", sql::Count(1));
    server_.addRule("^select count\\(\\*\\) from T0246$", sql::Count(1));
    server_.addRule("^select name from sysfiles", sql::Rows({{"name"}}, {{"Log_File"}}));
    if (logBackupMinutes_ > 0) {
      server_.addRule("DATABASEPROPERTYEX", sql::Rows({{""}}, {{"FULL"}}));
      // The last slot keeps its old full (the newest of its kind) and every log backup after it.
      server_.addRule("^backup database \\[" + kSlots.back() + "\\]", sql::Error(3013, "refused"));
    }
  }

  // A folder in the log file's place: no write reaches it, whoever the test runs as. What was
  // logged before goes; nothing reads it.
  void SetLogWritable(bool writable) {
    const fs::path log = exe_.path() / "RazuRarevi.Log";
    if (writable == fs::is_directory(log)) fs::remove_all(log);
    if (!writable) fs::create_directory(log);
  }

  const FaultPlan& plan_;
  const sql::TempDir& exe_;
  const sql::TempDir& backups_;
  ManualClock clock_{kFirstDay};
  sql::ScriptedSqlServer server_;
  sql::LineServer line_;
  sql::LoopbackHttpServer http_;
  SeasonPinger pinger_;
  sql::FakeServiceControl companion_;  // installed and running all season
  std::atomic<std::uint64_t> freeBytes_{200 * kGiB};
  std::optional<std::tuple<std::uint8_t, std::uint8_t, std::string>> rulesKey_;
  std::set<std::string> folder_;
  LogTouches logTouches_{exe_.path()};
  int logBackupMinutes_ = 0;
};

// ---- Reading the trace ----

// The three texts of an activity row: database, message, source.
using ActivityRow = std::array<std::string, 3>;
std::optional<ActivityRow> ReadActivityRow(const std::string& batch) {
  static const std::string kText = R"( ,N?'((?:[^']|'')*)')";
  static const std::regex kRow(
      R"(^insert into (?:\S+\.\.)?T0245 \(C002,C003,C004,C005\) values \( getDate\(\))" + kText +
      kText + kText);
  static const std::regex kDoubledQuote("''");
  std::smatch match;
  if (!std::regex_search(batch, match, kRow)) return std::nullopt;
  ActivityRow row;
  for (std::size_t i = 0; i < row.size(); ++i) {
    row[i] = std::regex_replace(match[i + 1].str(), kDoubledQuote, "'");
  }
  return row;
}

// A backup the cleanup may delete once it is old: its own exact name form for one of the
// slots, and neither the read-only file nor the folder.
struct OwnBackup {
  std::size_t slot = 0;
  std::string stamp, extension;
};
std::optional<OwnBackup> Deletable(const std::string& name) {
  static const std::regex kOwnName(R"(^(.+)\((\d{8})\)(\.(ful|inc|trf|tri))$)", std::regex::icase);
  std::smatch match;
  if (name == kReadOnlyFile || name == kForeignFolder || !std::regex_match(name, match, kOwnName)) {
    return std::nullopt;
  }
  for (std::size_t slot = 0; slot < kSlots.size(); ++slot) {
    if (EqualsNoCase(kSlots[slot], match[1].str())) {
      return OwnBackup{slot, match[2].str(), UpperAscii(match[3].str())};
    }
  }
  return std::nullopt;
}

// Problems found, by the check that found them.
using Problems = std::map<std::string, std::vector<std::string>>;

struct Attempt {
  std::size_t tick = 0, slot = 0;
  bool full = false;
  std::optional<bool> succeeded;  // from its outcome row
};

// ---- The checks ----

class SeasonChecks {
 public:
  explicit SeasonChecks(const Season& season) : season_(season), ticks_(season.ticks) {}

  Problems Run() {
    for (const std::string& batch : season_.startBatches) {
      CheckRowWidths(batch, ReadActivityRow(batch));
    }
    for (std::size_t i = 0; i < ticks_.size(); ++i) {
      if (ticks_[i].faults.ServerUnreachable() && !ticks_[i].batches.empty()) {
        Problem("unreachable server", When(i) + ticks_[i].batches.front());
      }
      ReadTick(i);
      CheckDeletions(ticks_[i]);
    }
    CheckEveryDayAndSlot();
    CheckFinalFolder();
    CheckFaultsMet();
    for (const std::string& entry : season_.eventLog.entries) {
      Problem("event log", "event log: " + entry);
    }
    return problems_;
  }

  // What the season went through, so that a quiet season shows.
  std::string Summary() const {
    return std::to_string(ticks_.size()) + " ticks, " + std::to_string(statements_) +
           " backup statements (" + std::to_string(failures_) + " failed), " +
           std::to_string(deletions_) + " files deleted, " + std::to_string(warnings_) +
           " disk warnings";
  }

 private:
  void Problem(const std::string& check, std::string text) {
    problems_[check].push_back(std::move(text));
  }
  std::string When(std::size_t i) const { return FormatLogKey(At(ticks_[i].time)) + ": "; }
  static long long Day(const TickRecord& tick) { return tick.time / FaultPlan::kDay; }
  // The first tick from `i` on that reaches the server.
  std::size_t Reachable(std::size_t i) const {
    while (i < ticks_.size() && ticks_[i].faults.ServerUnreachable()) ++i;
    return i;
  }

  // The backup statements of a tick with the outcome row that followed each, the widths of
  // its activity rows, and its disk warnings: each backup pass warns while the disk is short,
  // and only then.
  void ReadTick(std::size_t i) {
    static const std::regex kBackup(R"(^(BACKUP|Backup) DATABASE \[((?:[^\]]|\]\])*)\] TO DISK)");
    const TickRecord& tick = ticks_[i];
    std::vector<Attempt> attempts;
    int warnings = 0;
    for (const std::string& batch : tick.batches) {
      const std::optional<ActivityRow> row = ReadActivityRow(batch);
      CheckRowWidths(batch, row);
      std::smatch match;
      if (std::regex_search(batch, match, kBackup)) {
        const auto slot = std::find(kSlots.begin(), kSlots.end(), match[2].str());
        if (slot == kSlots.end()) {
          Problem("statements", "backup of an unknown database: " + batch);
        } else {
          attempts.push_back({i, static_cast<std::size_t>(slot - kSlots.begin()),
                              match[1] == "BACKUP", std::nullopt});
        }
        continue;
      }
      if (!row) continue;
      warnings += (*row)[1] == kDiskWarning ? 1 : 0;
      const auto outcome = kOutcomes.find((*row)[1]);
      if (outcome == kOutcomes.end()) continue;
      if (attempts.empty() || attempts.back().succeeded) {
        Problem("statements", "outcome row without a backup statement: " + batch);
        continue;
      }
      Attempt& attempt = attempts.back();
      const auto [full, succeeded] = outcome->second;
      if (full != attempt.full || (*row)[0].empty() ||
          !kSlots[attempt.slot].starts_with((*row)[0])) {
        Problem("statements", "outcome row of another backup: " + batch);
      }
      attempt.succeeded = succeeded;
    }
    for (const Attempt& attempt : attempts) CheckOutcome(attempt);

    const LocalDateTime t = At(tick.time);
    const int expected = tick.faults.Has(Fault::kLowDisk) && !tick.faults.ServerUnreachable()
                             ? Due(true, t) + Due(false, t)
                             : 0;
    warnings_ += static_cast<std::size_t>(warnings);
    if (warnings != expected) {
      Problem("disk warnings", FormatLogKey(t) + ": " + std::to_string(warnings) +
                                   " disk warnings, expected " + std::to_string(expected));
    }
  }

  // Every attempt wrote the row its fault asks for, at a time its kind was due.
  void CheckOutcome(const Attempt& attempt) {
    const TickRecord& tick = ticks_[attempt.tick];
    const std::string what = When(attempt.tick) + What(attempt.full, attempt.slot);
    const bool faulted =
        ((tick.faults.backupRefused | tick.faults.backupDropped) >> attempt.slot & 1) != 0;
    if (!attempt.succeeded) {
      Problem("outcomes", what + " wrote no outcome row");
    } else if (*attempt.succeeded == faulted) {
      Problem("outcomes", what + (faulted ? " succeeded despite its fault" : " failed"));
    }
    if (!Due(attempt.full, At(tick.time))) Problem("outcomes", what + " was not due");
    ++statements_;
    failures_ += attempt.succeeded == false ? 1 : 0;
    attempts_[{Day(tick), attempt.slot, attempt.full}].push_back(attempt);
  }

  // Each day and slot: the due backups were tried on the first tick that could, whatever else
  // failed; taken once; and every failure was tried again on the next tick that reached the
  // server.
  void CheckEveryDayAndSlot() {
    std::size_t dayStart = 0;
    for (long long day = 0; day < kSeasonDays; ++day) {
      while (dayStart < ticks_.size() && Day(ticks_[dayStart]) < day) ++dayStart;
      const LocalDateTime date = At(day * FaultPlan::kDay);
      for (bool full : {true, false}) {
        if (full && !FullDay(date)) continue;
        // The first tick of the day at which it was due, then the first of those that could.
        std::size_t first = dayStart;
        while (first < ticks_.size() && Day(ticks_[first]) == day &&
               !Due(full, At(ticks_[first].time))) {
          ++first;
        }
        first = Reachable(first);
        for (std::size_t slot = 0; slot < kSlots.size(); ++slot) {
          const std::string what = FormatDate(date) + ": " + What(full, slot);
          const std::vector<Attempt>& attempts = attempts_[{day, slot, full}];
          const auto successes =
              std::count_if(attempts.begin(), attempts.end(),
                            [](const Attempt& a) { return a.succeeded == true; });
          if (successes != 1 || attempts.back().succeeded != true) {
            Problem("days and slots",
                    what + ": " + std::to_string(attempts.size()) + " attempts, " +
                        std::to_string(successes) + " succeeded, last " +
                        (attempts.empty() || attempts.back().succeeded != true ? "failed" : "ok"));
            continue;
          }
          // An attempt's tick is of its day, so a first chance on a later day never matches.
          if (attempts.front().tick != first) {
            Problem("days and slots", When(attempts.front().tick) + what +
                                          " was not tried on the first tick it was due");
          }
          for (std::size_t i = 0; i + 1 < attempts.size(); ++i) {
            if (attempts[i + 1].tick != Reachable(attempts[i].tick + 1)) {
              Problem("days and slots", When(attempts[i].tick) + what +
                                            " failed and was not tried again on the next tick");
            }
          }
        }
      }
    }
  }

  // Only the cleanup's own names older than the retention go.
  void CheckDeletions(const TickRecord& tick) {
    const LocalDateTime today = At(tick.time);
    deletions_ += tick.deleted.size();
    for (const std::string& name : tick.deleted) {
      const std::optional<OwnBackup> own = Deletable(name);
      if (!own) {
        Problem("deletions", FormatLogKey(today) + ": deleted a foreign entry " + name);
      } else if (own->stamp >= Stamp(today, kRetentionDays)) {
        Problem("deletions", FormatLogKey(today) + ": deleted " + name + ", younger than " +
                                 std::to_string(kRetentionDays) + " days");
      }
    }
  }

  // The columns are varchar(20), varchar(50) and varchar(15), counted in CP949 bytes.
  void CheckRowWidths(const std::string& batch, const std::optional<ActivityRow>& row) {
    if (!row) {
      if (batch.find("T0245 (C002") != std::string::npos) {
        Problem("row widths", "unreadable activity row: " + batch);
      }
      return;
    }
    constexpr std::array<std::size_t, 3> kWidths = {20, 50, 15};
    for (std::size_t i = 0; i < kWidths.size(); ++i) {
      if (Cp949Width((*row)[i]) > kWidths[i]) {
        Problem("row widths", "activity row wider than T0245: " + batch);
      }
    }
  }

  // Each kind of fault was met by the service at least once while it was in force, so the season
  // tried what it claims to.
  void CheckFaultsMet() {
    for (int f = 0; f < static_cast<int>(Fault::kCount); ++f) {
      const auto fault = static_cast<Fault>(f);
      int met = 0;
      for (const TickRecord& tick : ticks_) met += tick.faults.Has(fault) ? tick.met[f] : 0;
      if (met == 0) Problem("faults met", std::string(FaultPlan::Name(fault)) + " never met");
    }
  }

  // The foreign entries are all there; of the backups older than the retention at most the
  // newest of each database and extension is left, and the newest ever held is there.
  void CheckFinalFolder() {
    const std::set<std::string> folder = season_.ListFolder();
    std::vector<std::string> foreign = kForeignFiles;
    foreign.insert(foreign.end(), {kForeignFolder, kReadOnlyFile});
    for (const std::string& name : foreign) {
      if (!folder.count(name)) Problem("final folder", "foreign entry gone: " + name);
    }
    const std::string cutoff = Stamp(At(ticks_.back().time), kRetentionDays);
    std::map<std::pair<std::size_t, std::string>, std::vector<std::string>> stamps;
    for (const std::string& name : folder) {
      if (const auto own = Deletable(name)) {
        stamps[{own->slot, own->extension}].push_back(own->stamp);
      }
    }
    std::map<std::pair<std::size_t, std::string>, std::string> newestEver;
    const auto held = [&](const std::string& name) {
      if (const auto own = Deletable(name)) {
        std::string& newest = newestEver[{own->slot, own->extension}];
        newest = std::max(newest, own->stamp);
      }
    };
    for (const std::string& name : folder) held(name);
    for (const TickRecord& tick : ticks_) {
      for (const std::string& name : tick.deleted) held(name);
    }
    for (const auto& [key, newest] : newestEver) {
      const std::vector<std::string>& left = stamps[key];
      if (std::find(left.begin(), left.end(), newest) == left.end()) {
        Problem("final folder",
                "newest backup gone: " + kSlots[key.first] + "(" + newest + ")" + key.second);
      }
    }
    if (newestEver.size() != kSlots.size() * kExtensions.size()) {
      Problem("final folder", "backups of some database and extension never held");
    }
    for (const auto& [key, list] : stamps) {
      const std::string newest = *std::max_element(list.begin(), list.end());
      const auto old = std::count_if(list.begin(), list.end(), [&](const std::string& stamp) {
        return stamp < cutoff && stamp != newest;
      });
      if (old > 0) {
        Problem("final folder",
                std::to_string(old) + " old backups left of " + kSlots[key.first] + key.second);
      }
    }
  }

  const Season& season_;
  const std::vector<TickRecord>& ticks_;
  std::map<std::tuple<long long, std::size_t, bool>, std::vector<Attempt>> attempts_;
  Problems problems_;
  std::size_t statements_ = 0, failures_ = 0, deletions_ = 0, warnings_ = 0;
};

// ---- The log chain ----

// With log backups on, the chain from every full the folder keeps is whole: the log is never
// emptied through SIMPLE, every round that reached the server backed up each slot into a new,
// name, and no log backup went from the day of the oldest full left on.
Problems CheckLogChain(const Season& season) {
  static const std::regex kLog(R"(^BACKUP LOG \[(.+)\] TO DISK = N'.*\\(.+\(\d{8}-\d{6}\)\.trn)')");
  Problems problems;
  std::set<std::string> names, deleted;
  for (const auto* records : {&season.logRounds, &season.ticks}) {
    for (const TickRecord& record : *records) {
      for (const std::string& batch : record.batches) {
        if (batch.find("SET RECOVERY SIMPLE") != std::string::npos)
          problems["simple"].push_back(batch);
        std::smatch match;
        if (!std::regex_search(batch, match, kLog)) continue;
        if (!names.insert(match[2].str()).second) problems["names"].push_back(match[2].str());
      }
      for (const std::string& name : record.deleted) {
        if (name.ends_with(".trn")) deleted.insert(name);
      }
    }
  }
  const std::set<std::string> folder = season.ListFolder();
  for (const std::string& name : deleted) {
    const std::string database = name.substr(0, name.size() - 21);  // "(yyyymmdd-hhmmss).trn"
    for (const std::string& file : folder) {
      if (file.size() == database.size() + 14 && file.starts_with(database + "(") &&
          file.ends_with(").ful") &&
          name.substr(database.size() + 1, 8) >= file.substr(database.size() + 1, 8)) {
        problems["kept chain"].push_back(name + " gone, " + file + " needs it");
      }
    }
  }
  if (names.empty() || deleted.empty()) problems["coverage"].push_back("none taken or deleted");
  return problems;
}

std::uint64_t SeasonSeed() {
  const char* text = std::getenv("MVX_SIM_SEED");
  if (text == nullptr || *text == '\0') return kDefaultSeed;
  if (std::string_view(text) == "random") return std::random_device{}();
  return std::strtoull(text, nullptr, 10);
}

TEST(SeasonSimulation, AHundredAndTwentyDaysOfFaults) {
  const std::uint64_t seed = SeasonSeed();
  SCOPED_TRACE("season seed " + std::to_string(seed) +
               "; replay with MVX_SIM_SEED=" + std::to_string(seed));
  const FaultPlan plan(seed, kSeasonDays);
  sql::TempDir exe, backups;

  std::vector<std::string> replayTrace;
  {
    Season replay(plan, exe, backups);
    replay.Run(kReplayDays);
    replayTrace = replay.Trace(kReplayDays * FaultPlan::kDay);
  }
  // The same folders again, so that even the paths in the statements are the same.
  for (const auto& entry : fs::directory_iterator(exe.path())) fs::remove_all(entry.path());
  for (const auto& entry : fs::directory_iterator(backups.path())) fs::remove_all(entry.path());
  Season season(plan, exe, backups);
  season.Run(kSeasonDays);

  const std::vector<std::string> trace = season.Trace(kReplayDays * FaultPlan::kDay);
  const auto [was, is] =
      std::mismatch(replayTrace.begin(), replayTrace.end(), trace.begin(), trace.end());
  EXPECT_TRUE(was == replayTrace.end() && is == trace.end())
      << "the same seed gave another trace at line " << was - replayTrace.begin() + 1 << ":\n  "
      << (was == replayTrace.end() ? "" : *was) << "\n  " << (is == trace.end() ? "" : *is);

  SeasonChecks checks(season);
  const Problems problems = checks.Run();
  std::printf("season %llu: %s\n", static_cast<unsigned long long>(seed), checks.Summary().c_str());
  if (!problems.empty()) {
    std::string report;
    for (const auto& [check, found] : problems) {
      report += check + ": " + std::to_string(found.size()) + " problems, the first:\n";
      for (std::size_t i = 0; i < found.size() && i < 5; ++i) report += "  " + found[i] + "\n";
    }
    ADD_FAILURE() << report << "faults of the season:\n" << plan.Describe();
  }
}

// Ten days with a log backup every 15 minutes under the same faults: the chain never breaks.
TEST(SeasonSimulation, TenDaysOfLogBackups) {
  const FaultPlan plan(SeasonSeed(), 10);
  sql::TempDir exe, backups;
  Season season(plan, exe, backups, 15);
  season.Run(10);
  for (const auto& [check, found] : CheckLogChain(season)) {
    ADD_FAILURE() << check << ": " << found.size() << " problems, the first: " << found.front();
  }
}

}  // namespace
}  // namespace mvx
