// A season of 120 days driven tick by tick with a simulated clock: the service module, the
// scripted SQL server (which writes the backup files) and the loopback support servers, with
// the faults of a seeded plan. MVX_SIM_SEED=<number> replays a season; "random" draws one.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
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
#include "companion/service_control.h"
#include "season_fault_plan.h"
#include "service/tf_mvx_backup_main.h"
#include "support/http/line_server.h"
#include "support/http/loopback_http_server.h"
#include "support/sql/scripted_sql_server.h"
#include "support/sql/sql_replies.h"
#include "support/temp_dir.h"

namespace mvx {
namespace {

namespace fs = std::filesystem;
namespace sql = mvx::testing;
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

const char kFullDone[] = "Full Backup 완료";
const char kFullFailed[] = "Full Backup Fail!!!";
const char kIncDone[] = "Increment Backup 완료";
const char kIncFailed[] = "Increment Backup Fail!!!";
const char kDiskWarning[] = "Disk Space 경고!!!";

LocalDateTime At(long long seasonTime) { return AddMilliseconds(kFirstDay, seasonTime * 1000); }

std::string Stamp(const LocalDateTime& day) { return DateStamp(FormatDate(day)); }

std::string RegexEscaped(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (std::string_view("\\^$.|?*+()[]{}").find(c) != std::string_view::npos) out += '\\';
    out += c;
  }
  return out;
}

// Support hosts on loopback that answer pings unless the plan makes them silent.
class SeasonPinger final : public Pinger {
 public:
  PingResult Ping(std::string_view) override {
    if (!up) return {};
    return {true, "127.0.0.1"};
  }
  std::atomic<bool> up{true};
};

// The companion service, installed and running all season.
class RunningCompanion final : public ServiceControl {
 public:
  int QueryServiceState(std::string_view) override { return kServiceRunning; }
  int InstallService(std::string_view, std::string_view, std::string_view) override {
    return kInstallCreated;
  }
  int StartServiceAndWait(std::string_view) override { return kStartRunning; }
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

// What one tick sent and did.
struct TickRecord {
  long long time = 0;
  TickFaults faults;
  std::vector<std::string> batches;
  std::vector<std::string> deleted;  // entries of the backup folder that went away
};

// One season: the module and its servers, run tick by tick through the plan.
class Season {
 public:
  Season(const FaultPlan& plan, const sql::TempDir& exe, const sql::TempDir& backups)
      : plan_(plan), exe_(exe), backups_(backups) {
    WriteSettings();
    SeedBackupFolder();
    folder_ = ListFolder();
    server_.createBackupFiles(backups_.path().string());
    line_.SetAnswer(sql::LineServer::Answer::kReply, "012PNG1013PNG");
  }

  void Run(int days) {
    ServiceOptions options;
    options.exeDir = exe_.dir();
    // Ticks come only from the loop below: the timer never fires on its own.
    options.firstTickDelay = std::chrono::hours(24);
    options.timerUnit = std::chrono::hours(1);
    options.databasePort = server_.port();
    options.endpoints.primaryHost = "127.0.0.1";
    options.endpoints.secondaryHost = "127.0.0.1";
    options.endpoints.httpPort = http_.Port();
    options.endpoints.linePort = line_.Port();
    options.endpoints.httpConnectTimeoutMs = kLinkWaitMs;
    options.endpoints.httpReadTimeoutMs = kLinkWaitMs;
    options.endpoints.exchangeWaitMs = kLinkWaitMs;
    options.endpoints.sendWaitMs = kLinkWaitMs;
    options.pinger = &pinger_;
    options.serviceControl = &companion_;
    options.freeSpace = [this](std::string_view) { return freeBytes_.load(); };
    TfMvxBackupMain module(clock_, eventLog, options);

    long long time = plan_.StartTime();
    Apply(plan_.At(time), time);
    clock_.Set(At(time));
    module.ServiceStart();
    startBatches = server_.batchTexts();
    time += 3;
    while (time < days * FaultPlan::kDay) {
      TickRecord& tick = ticks.emplace_back();
      tick.time = time;
      tick.faults = plan_.At(time);
      Apply(tick.faults, time);
      server_.clearRecords();
      clock_.Set(At(time));
      module.Timer1Timer();
      tick.batches = server_.batchTexts();
      // Nothing but the tick changes the folder.
      std::map<std::string, bool> after = ListFolder();
      for (const auto& [name, isFolder] : folder_) {
        if (!after.count(name)) tick.deleted.push_back(name);
      }
      folder_ = std::move(after);
      // The interval counts from the end of a tick; a backup takes a minute.
      const auto statements = std::count_if(
          tick.batches.begin(), tick.batches.end(),
          [](const std::string& batch) { return UpperAscii(batch.substr(0, 7)) == "BACKUP "; });
      time += 2 + 60 * statements + (tick.faults.supportSlow ? 30 : 0) + kTimerInt;
    }
    SetLogWritable(true);
  }

  // Everything the season sent and deleted, tick by tick, up to a time.
  std::string Trace(long long until) const {
    std::string trace;
    for (const std::string& batch : startBatches) trace += batch + "\n";
    for (const TickRecord& tick : ticks) {
      if (tick.time >= until) break;
      trace += "tick " + FormatLogKey(At(tick.time)) + "\n";
      for (const std::string& batch : tick.batches) trace += batch + "\n";
      for (const std::string& name : tick.deleted) trace += "deleted " + name + "\n";
    }
    return trace;
  }

  std::map<std::string, bool> ListFolder() const {
    std::map<std::string, bool> entries;
    for (const auto& entry : fs::directory_iterator(backups_.path())) {
      entries[entry.path().filename().string()] = entry.is_directory();
    }
    return entries;
  }

  std::vector<std::string> startBatches;
  std::vector<TickRecord> ticks;
  RecordingEventLog eventLog;

 private:
  void Put(const std::string& section, const std::string& key, const std::string& value) {
    ProfileFile(exe_.file("RazuRarevi.ini"))
        .WriteString(section, ScrambleValue(key), ScrambleValue(ToAnsi(value)));
  }

  void WriteSettings() {
    Put("DBServer", "Name", "127.0.0.1");
    Put("DBServer", "ID", "quendr");
    Put("DBServer", "Password", "pw");
    for (std::size_t slot = 0; slot < kSlots.size(); ++slot) {
      Put("DBServer", "BackupDB" + std::to_string(slot + 1), kSlots[slot]);
    }
    Put("DBServer", "DBPath", "/");
    Put("RazuRarevi", "BKPath", backups_.path().string());
    Put("RazuRarevi", "FullType", "2");
    Put("RazuRarevi", "FullDay1", "화");
    Put("RazuRarevi", "FullDay2", "금");
    Put("RazuRarevi", "FullTime", "01:30");
    Put("RazuRarevi", "IncType", "3");
    Put("RazuRarevi", "IncBTime", "17:00");
    Put("RazuRarevi", "TimerInt", std::to_string(kTimerInt));
    Put("RazuRarevi", "Save", "1");
  }

  // Backups of every slot and kind from before the season, some in other letter cases,
  // and files the cleanup must leave alone.
  void SeedBackupFolder() {
    for (std::size_t slot = 0; slot < kSlots.size(); ++slot) {
      for (const std::string& extension : kExtensions) {
        for (int daysBefore : {40, 20, 9, 3}) {
          std::string name = kSlots[slot];
          if (daysBefore == 20) name = UpperAscii(name);
          const LocalDateTime day = AddMilliseconds(kFirstDay, -daysBefore * 86400000LL);
          backups_.write(name + "(" + Stamp(day) + ")" + extension, "old backup");
        }
      }
    }
    for (const std::string& name : kForeignFiles) backups_.write(name, "not a backup");
    fs::create_directory(backups_.path() / kForeignFolder);
    backups_.write(kReadOnlyFile, "old backup");
    fs::permissions(backups_.path() / kReadOnlyFile, fs::perms::owner_read | fs::perms::group_read);
  }

  void Apply(const TickFaults& faults, long long time) {
    server_.setDown(faults.serverDown);
    server_.refuseLogins(faults.loginRefused);
    SetRules(faults.backupRefused, faults.backupDropped, plan_.TransportMode(time));
    pinger_.up = !faults.supportHostsSilent;
    line_.SetAnswer(faults.supportDown   ? sql::LineServer::Answer::kClose
                    : faults.supportSlow ? sql::LineServer::Answer::kSilent
                                         : sql::LineServer::Answer::kReply,
                    "012PNG1013PNG");
    sql::HttpScriptedReply valid = sql::HttpReply(200, "OK", "1");
    http_.SetFallbackReply(faults.supportDown   ? sql::RawReply("")
                           : faults.supportSlow ? sql::Delayed(valid, kSlowReplyMs)
                                                : valid);
    freeBytes_ = faults.lowDisk ? 1 * kGiB : 200 * kGiB;
    SetLogWritable(!faults.logUnwritable);
  }

  // The server's answers; rebuilt only when they change, as compiling them is not cheap.
  void SetRules(std::uint8_t refused, std::uint8_t dropped, const std::string& mode) {
    const std::string key = std::to_string(refused) + "/" + std::to_string(dropped) + "/" + mode;
    if (key == rulesKey_) return;
    rulesKey_ = key;
    server_.clearRules();
    for (std::size_t slot = 0; slot < kSlots.size(); ++slot) {
      const std::string statement = "^backup database " + RegexEscaped("[" + kSlots[slot] + "]");
      sql::SqlReply reply;
      reply.infos = {{3211, "10 percent processed.", 0}};
      if (dropped & (1u << slot)) {
        reply.dropConnection = true;
      } else if (refused & (1u << slot)) {
        reply.error = sql::SqlMessage{3013, "BACKUP DATABASE is terminating abnormally.", 16};
      } else {
        continue;
      }
      server_.addRule(statement, reply);
    }
    server_.addRule("^select C005 from T0246$", sql::Rows({{"C005"}}, {{mode}}));
    server_.addRule("^select count\\(\\*\\) from master\\.dbo\\.sysdatabases", sql::Count(0));
    server_.addRule("^select C001 from .*\\.dbo\\.T0101", sql::Rows({{"C001"}}, {{"INST-7"}}));
    server_.addRule("from sysobjects", sql::Count(1));
    server_.addRule("^select count\\(\\*\\) from T0246$", sql::Count(1));
    server_.addRule("^select name from sysfiles", sql::Rows({{"name"}}, {{"Log_File"}}));
  }

  // A folder in the log file's place: no write reaches it, whoever the test runs as.
  void SetLogWritable(bool writable) {
    const fs::path log = exe_.path() / "RazuRarevi.Log";
    const fs::path kept = exe_.path() / "RazuRarevi.Log.kept";
    if (!writable && !fs::is_directory(log)) {
      if (fs::exists(log)) fs::rename(log, kept);
      fs::create_directory(log);
    } else if (writable && fs::is_directory(log)) {
      fs::remove_all(log);
      if (fs::exists(kept)) fs::rename(kept, log);
    }
  }

  const FaultPlan& plan_;
  const sql::TempDir& exe_;
  const sql::TempDir& backups_;
  ManualClock clock_{kFirstDay};
  sql::ScriptedSqlServer server_;
  sql::LineServer line_;
  sql::LoopbackHttpServer http_;
  SeasonPinger pinger_;
  RunningCompanion companion_;
  std::atomic<std::uint64_t> freeBytes_{200 * kGiB};
  std::string rulesKey_;
  std::map<std::string, bool> folder_;  // name: is a folder
};

// ---- Reading the trace ----

// The three texts of an activity row: database, message, source.
std::optional<std::array<std::string, 3>> ActivityRow(const std::string& batch) {
  static const std::regex kInsert(
      R"(^insert into (\S+\.\.)?T0245 \(C002,C003,C004,C005\) values \( getDate\(\) ,)");
  std::smatch match;
  if (!std::regex_search(batch, match, kInsert)) return std::nullopt;
  std::array<std::string, 3> texts;
  std::size_t at = static_cast<std::size_t>(match.length(0));
  for (std::string& text : texts) {
    if (at < batch.size() && batch[at] == 'N') ++at;
    if (at >= batch.size() || batch[at] != '\'') return std::nullopt;
    for (++at; at < batch.size(); ++at) {
      if (batch[at] != '\'') {
        text += batch[at];
      } else if (at + 1 < batch.size() && batch[at + 1] == '\'') {
        text += '\'';
        ++at;
      } else {
        break;
      }
    }
    at = batch.find_first_not_of(" ,", at + 1);
    if (at == std::string::npos) at = batch.size();
  }
  return texts;
}

// Problems found, by the check that found them.
using Problems = std::map<std::string, std::vector<std::string>>;

struct Attempt {
  std::size_t tick = 0;
  std::size_t slot = 0;
  bool full = false;
  std::optional<bool> succeeded;  // from its outcome row
};

// The backup statements of a tick and the outcome row that followed each.
std::vector<Attempt> Attempts(const TickRecord& record, std::size_t tick, Problems& problems) {
  static const std::regex kBackup(R"(^(BACKUP|Backup) DATABASE \[((?:[^\]]|\]\])*)\] TO DISK)");
  std::vector<Attempt> attempts;
  for (const std::string& batch : record.batches) {
    std::smatch match;
    if (std::regex_search(batch, match, kBackup)) {
      const auto slot = std::find(kSlots.begin(), kSlots.end(), match[2].str());
      if (slot == kSlots.end()) {
        problems["statements"].push_back("backup of an unknown database: " + batch);
        continue;
      }
      attempts.push_back({tick, static_cast<std::size_t>(slot - kSlots.begin()),
                          match[1] == "BACKUP", std::nullopt});
      continue;
    }
    const auto row = ActivityRow(batch);
    if (!row) continue;
    const std::string& message = (*row)[1];
    const bool success = message == kFullDone || message == kIncDone;
    if (!success && message != kFullFailed && message != kIncFailed) continue;
    if (attempts.empty() || attempts.back().succeeded) {
      problems["statements"].push_back("outcome row without a backup statement: " + batch);
      continue;
    }
    Attempt& attempt = attempts.back();
    const bool full = message == kFullDone || message == kFullFailed;
    if (full != attempt.full || (*row)[0].empty() || !kSlots[attempt.slot].starts_with((*row)[0])) {
      problems["statements"].push_back("outcome row of another backup: " + batch);
    }
    attempt.succeeded = success;
  }
  return attempts;
}

// ---- The checks ----

// A name of the cleanup's own exact form for one of the slots.
struct OwnBackup {
  std::size_t slot = 0;
  std::string stamp;
  std::string extension;  // lower case, with the dot
};

std::optional<OwnBackup> ParseOwnBackup(const std::string& name) {
  static const std::regex kOwnName(R"(^(.+)\((\d{8})\)(\.(ful|inc|trf|tri))$)", std::regex::icase);
  std::smatch match;
  if (!std::regex_match(name, match, kOwnName)) return std::nullopt;
  for (std::size_t slot = 0; slot < kSlots.size(); ++slot) {
    if (UpperAscii(kSlots[slot]) == UpperAscii(match[1].str())) {
      std::string extension = match[3].str();
      for (char& ch : extension)
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
      return OwnBackup{slot, match[2].str(), extension};
    }
  }
  return std::nullopt;
}

class SeasonChecks {
 public:
  SeasonChecks(const Season& season) : season_(season) {}

  Problems Run() {
    for (std::size_t i = 0; i < season_.ticks.size(); ++i) {
      const TickRecord& tick = season_.ticks[i];
      for (Attempt& attempt : Attempts(tick, i, problems_)) CheckOutcome(attempt);
      deletions_ += tick.deleted.size();
      if (tick.faults.ServerUnreachable() && !tick.batches.empty()) {
        problems_["unreachable server"].push_back(When(i) + tick.batches.front());
      }
      CheckDiskWarnings(tick);
      CheckDeletions(tick);
      for (const std::string& batch : tick.batches) CheckRowWidths(batch);
    }
    for (const std::string& batch : season_.startBatches) CheckRowWidths(batch);
    CheckEveryDayAndSlot();
    CheckFinalFolder();
    for (const std::string& entry : season_.eventLog.entries) {
      problems_["event log"].push_back("event log: " + entry);
    }
    return problems_;
  }

  // What the season went through, so that a quiet season shows.
  std::string Summary() const {
    std::size_t attempts = 0, failures = 0;
    for (const auto& [key, list] : attempts_) {
      attempts += list.size();
      failures += static_cast<std::size_t>(std::count_if(
          list.begin(), list.end(), [](const Attempt& a) { return a.succeeded == false; }));
    }
    return std::to_string(season_.ticks.size()) + " ticks, " + std::to_string(attempts) +
           " backup statements (" + std::to_string(failures) + " failed), " +
           std::to_string(deletions_) + " files deleted, " + std::to_string(warnings_) +
           " disk warnings";
  }

 private:
  const TickRecord& Tick(std::size_t i) const { return season_.ticks[i]; }
  std::string When(std::size_t i) const { return FormatLogKey(At(Tick(i).time)) + ": "; }
  static long long Day(const TickRecord& tick) { return tick.time / FaultPlan::kDay; }

  static bool FullDue(const LocalDateTime& t) {
    return (t.weekday == 2 || t.weekday == 5) && FormatTimeOfDay(t) >= "01:30";
  }
  static bool IncDue(const LocalDateTime& t) { return FormatTimeOfDay(t) >= "17:00"; }

  // Every attempt wrote the row its fault asks for, at a time its kind was due.
  void CheckOutcome(const Attempt& attempt) {
    const TickRecord& tick = Tick(attempt.tick);
    const std::string what = When(attempt.tick) + (attempt.full ? "full" : "differential") +
                             " backup of " + kSlots[attempt.slot];
    const bool faulted =
        ((tick.faults.backupRefused | tick.faults.backupDropped) & (1u << attempt.slot)) != 0;
    if (!attempt.succeeded) {
      problems_["outcomes"].push_back(what + " wrote no outcome row");
    } else if (*attempt.succeeded == faulted) {
      problems_["outcomes"].push_back(what +
                                      (faulted ? " succeeded despite its fault" : " failed"));
    }
    if (!(attempt.full ? FullDue(At(tick.time)) : IncDue(At(tick.time)))) {
      problems_["outcomes"].push_back(what + " was not due");
    }
    attempts_[{Day(tick), attempt.slot, attempt.full}].push_back(attempt);
  }

  // The first tick of each day at which a kind of backup was due and the server reachable.
  std::map<std::pair<long long, bool>, std::size_t> FirstChances() const {
    std::map<std::pair<long long, bool>, std::size_t> first;
    for (std::size_t i = 0; i < season_.ticks.size(); ++i) {
      if (Tick(i).faults.ServerUnreachable()) continue;
      for (bool full : {true, false}) {
        if (full ? FullDue(At(Tick(i).time)) : IncDue(At(Tick(i).time))) {
          first.emplace(std::make_pair(Day(Tick(i)), full), i);
        }
      }
    }
    return first;
  }

  // Each day and slot: the due backups were tried on the first tick that could, whatever else
  // failed; taken once; and every failure was tried again on the next tick that reached the
  // server.
  void CheckEveryDayAndSlot() {
    const std::map<std::pair<long long, bool>, std::size_t> firstChances = FirstChances();
    for (long long day = 0; day < kSeasonDays; ++day) {
      const LocalDateTime date = At(day * FaultPlan::kDay);
      for (std::size_t slot = 0; slot < kSlots.size(); ++slot) {
        for (bool full : {true, false}) {
          if (full && date.weekday != 2 && date.weekday != 5) continue;
          const std::string what = FormatDate(date) + ": " + (full ? "full" : "differential") +
                                   " backup of " + kSlots[slot];
          const std::vector<Attempt>& attempts = attempts_[{day, slot, full}];
          const auto successes =
              std::count_if(attempts.begin(), attempts.end(),
                            [](const Attempt& a) { return a.succeeded == true; });
          if (successes != 1 || attempts.back().succeeded != true) {
            problems_["days and slots"].push_back(
                what + ": " + std::to_string(attempts.size()) + " attempts, " +
                std::to_string(successes) + " succeeded, last " +
                (attempts.empty() || attempts.back().succeeded != true ? "failed" : "ok"));
            continue;
          }
          const auto first = firstChances.find({day, full});
          if (first == firstChances.end() || attempts.front().tick != first->second) {
            problems_["days and slots"].push_back(When(attempts.front().tick) + what +
                                                  " was not tried on the first tick it was due");
          }
          for (std::size_t i = 0; i + 1 < attempts.size(); ++i) {
            std::size_t next = attempts[i].tick + 1;
            while (next < season_.ticks.size() && Tick(next).faults.ServerUnreachable()) ++next;
            if (attempts[i + 1].tick != next) {
              problems_["days and slots"].push_back(
                  When(attempts[i].tick) + what +
                  " failed and was not tried again on the next tick");
            }
          }
        }
      }
    }
  }

  // Each backup pass warns while the disk is short, and only then.
  void CheckDiskWarnings(const TickRecord& tick) {
    const LocalDateTime t = At(tick.time);
    const int passes = (FullDue(t) ? 1 : 0) + (IncDue(t) ? 1 : 0);
    const int expected = tick.faults.lowDisk && !tick.faults.ServerUnreachable() ? passes : 0;
    const auto warnings =
        std::count_if(tick.batches.begin(), tick.batches.end(), [](const std::string& batch) {
          const auto row = ActivityRow(batch);
          return row && (*row)[1] == kDiskWarning;
        });
    warnings_ += static_cast<std::size_t>(warnings);
    if (warnings != expected) {
      problems_["disk warnings"].push_back(FormatLogKey(t) + ": " + std::to_string(warnings) +
                                           " disk warnings, expected " + std::to_string(expected));
    }
  }

  // Only the cleanup's own names older than the retention go.
  void CheckDeletions(const TickRecord& tick) {
    const LocalDateTime today = At(tick.time);
    const std::string cutoff = Stamp(AddMilliseconds(today, -kRetentionDays * 86400000LL));
    for (const std::string& name : tick.deleted) {
      const std::optional<OwnBackup> own = ParseOwnBackup(name);
      if (!own || name == kReadOnlyFile) {
        problems_["deletions"].push_back(FormatLogKey(today) + ": deleted a foreign entry " + name);
      } else if (own->stamp >= cutoff) {
        problems_["deletions"].push_back(FormatLogKey(today) + ": deleted " + name +
                                         ", younger than " + std::to_string(kRetentionDays) +
                                         " days");
      }
    }
  }

  // The columns are varchar(20), varchar(50) and varchar(15), counted in CP949 bytes.
  void CheckRowWidths(const std::string& batch) {
    const auto row = ActivityRow(batch);
    if (!row) {
      if (batch.find("T0245 (C002") != std::string::npos) {
        problems_["row widths"].push_back("unreadable activity row: " + batch);
      }
      return;
    }
    constexpr std::array<std::size_t, 3> kWidths = {20, 50, 15};
    for (std::size_t i = 0; i < kWidths.size(); ++i) {
      if (ToAnsi((*row)[i]).size() > kWidths[i]) {
        problems_["row widths"].push_back("activity row wider than T0245: " + batch);
      }
    }
  }

  // The foreign entries are all there, and of the backups older than the retention at most
  // the newest of each database and extension is left.
  void CheckFinalFolder() {
    const std::map<std::string, bool> folder = season_.ListFolder();
    for (const std::string& name : kForeignFiles) {
      if (!folder.count(name)) problems_["final folder"].push_back("foreign file gone: " + name);
    }
    if (!folder.count(kForeignFolder)) problems_["final folder"].push_back("foreign folder gone");
    if (!folder.count(kReadOnlyFile)) problems_["final folder"].push_back("read-only file gone");
    const LocalDateTime lastDay = At(season_.ticks.back().time);
    const std::string cutoff = Stamp(AddMilliseconds(lastDay, -kRetentionDays * 86400000LL));
    // Stamps of the own backups by slot and extension.
    std::map<std::pair<std::size_t, std::string>, std::vector<std::string>> stamps;
    for (const auto& [name, isFolder] : folder) {
      const std::optional<OwnBackup> own = ParseOwnBackup(name);
      if (!isFolder && own && name != kReadOnlyFile) {
        stamps[{own->slot, own->extension}].push_back(own->stamp);
      }
    }
    for (const auto& [key, list] : stamps) {
      const std::string newest = *std::max_element(list.begin(), list.end());
      const auto old = std::count_if(list.begin(), list.end(), [&](const std::string& stamp) {
        return stamp < cutoff && stamp != newest;
      });
      if (old > 0) {
        problems_["final folder"].push_back(std::to_string(old) + " old backups left of " +
                                            kSlots[key.first] + key.second);
      }
    }
  }

  const Season& season_;
  std::map<std::tuple<long long, std::size_t, bool>, std::vector<Attempt>> attempts_;
  Problems problems_;
  std::size_t deletions_ = 0;
  std::size_t warnings_ = 0;
};

// The first line where two traces part, for the report.
std::string FirstDifference(const std::string& a, const std::string& b) {
  std::size_t at = 0, line = 1;
  while (at < a.size() && at < b.size() && a[at] == b[at]) {
    if (a[at] == '\n') ++line;
    ++at;
  }
  auto lineAround = [at](const std::string& text) {
    const std::size_t begin = at == 0 ? 0 : text.rfind('\n', at - 1) + 1;
    return text.substr(begin, text.find('\n', at) - begin);
  };
  return "line " + std::to_string(line) + ":\n  " + lineAround(a) + "\n  " + lineAround(b);
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

  std::string replayTrace;
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

  const std::string trace = season.Trace(kReplayDays * FaultPlan::kDay);
  EXPECT_TRUE(trace == replayTrace)
      << "the same seed gave another trace at " << FirstDifference(replayTrace, trace);

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

  // The season met every kind of fault.
  std::set<season::Fault> met;
  for (const TickRecord& tick : season.ticks) {
    const TickFaults& f = tick.faults;
    const std::pair<bool, season::Fault> kinds[] = {
        {f.serverDown, season::Fault::kServerDown},
        {f.loginRefused, season::Fault::kLoginRefused},
        {f.backupRefused != 0, season::Fault::kBackupRefused},
        {f.backupDropped != 0, season::Fault::kBackupDropped},
        {f.lowDisk, season::Fault::kLowDisk},
        {f.supportDown, season::Fault::kSupportDown},
        {f.supportSlow, season::Fault::kSupportSlow},
        {f.logUnwritable, season::Fault::kLogUnwritable}};
    for (const auto& [inForce, fault] : kinds) {
      if (inForce) met.insert(fault);
    }
  }
  EXPECT_EQ(met.size(), 8u) << "a season without every kind of fault";
}

}  // namespace
}  // namespace mvx
