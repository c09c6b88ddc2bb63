#include "service/tf_mvx_backup_main.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "backup/backup_engine.h"
#include "common/date_text.h"
#include "common/host_info.h"
#include "common/owner_only_access.h"
#include "common/text_util.h"
#include "companion/companion_installer.h"
#include "db/query_helpers.h"
#include "maintenance/key_part_maintenance.h"
#include "service/heartbeat.h"
#include "service/image_database.h"
#include "service/schedule.h"
#include "service/stop_canceller.h"

namespace mvx {
namespace {

// How often a stop reports that it waits, and looks again for late statements.
constexpr std::chrono::milliseconds kStopPendingEvery{1000};
// What the start allows the support link check, which no statement deadline bounds.
constexpr std::chrono::milliseconds kLinkCheckAllowance{25000};
// Past statementGrace and cancelGrace, how long a stop still waits for the undo
// of a half-done full backup: 30 + 10 + 5 = 45 s for the whole stop, of which
// the last second is kept for the final row.
constexpr std::chrono::milliseconds kHeldWorkAllowance{5000};
constexpr std::chrono::milliseconds kStopRowReserve{1000};
constexpr std::string_view kStopMessage = "RazuRarevi Stop";
// After the cancel, the tick writes its failure row and ends; a statement
// that still runs this long after it began is cancelled too.
constexpr std::chrono::milliseconds kLateStatementAge{1000};

std::unique_ptr<ServiceControl> CreateServiceControl(TextLog& log,
                                                     const std::atomic<bool>& stopRequested,
                                                     const ServiceOptions& options) {
  if (options.serviceControl != nullptr) return nullptr;
  return std::make_unique<SystemServiceControl>(log, stopRequested);
}

std::unique_ptr<TdMFunc> CreateLinkModule(const Clock& clock, TextLog& log,
                                          const ServiceOptions& options,
                                          const std::atomic<bool>& stop) {
  if (options.pinger != nullptr) {
    return std::make_unique<TdMFunc>(clock, log, options.endpoints, *options.pinger, &stop);
  }
  return std::make_unique<TdMFunc>(clock, log, options.endpoints, &stop);
}

}  // namespace

// Reports go to the link module while it exists; after a stop freed it, they are dropped.
class TfMvxBackupMain::Reports final : public ReportSink {
 public:
  explicit Reports(TfMvxBackupMain& module) : module_(module) {}
  void SendReport(std::string_view kind, std::string_view installationId, std::string_view database,
                  std::string_view eventCode, std::string_view computerName) override {
    if (module_.dMFunc_) {
      module_.dMFunc_->SendReport(kind, installationId, database, eventCode, computerName);
    }
  }

 private:
  TfMvxBackupMain& module_;
};

// What the schedule asks for, carried out with the module's collaborators.
class TfMvxBackupMain::Schedule final : public ScheduleActions {
 public:
  explicit Schedule(TfMvxBackupMain& module)
      : module_(module), cleanup_(module.backups_->BeginCleanupRound()) {}

  void WriteServiceLog(std::string_view database, std::string_view message) override {
    module_.serviceTables_.WriteServiceLog(database, message);
  }
  void SendReport(std::string_view kind, std::string_view database,
                  std::string_view eventCode) override {
    module_.reports_->SendReport(kind, module_.installationId_, database, eventCode,
                                 module_.computerName_);
  }
  void ClearOldLogEntries(std::string_view today) override {
    module_.textLog_.ClearOldLogEntries(today);
  }
  void RunFullBackups(std::string_view today) override { module_.backups_->RunFullBackups(today); }
  void RunDifferentialBackups(std::string_view today) override {
    module_.backups_->RunDifferentialBackups(today);
  }
  void RemoveOldBackups(std::string_view today, std::string_view database) override {
    cleanup_.RemoveOldBackups(today, database);
  }
  void RunKeyPartMaintenance(std::string_view mode, std::string_view today,
                             std::string_view database) override {
    module_.keyParts_->RunKeyPartMaintenance(mode, today, database);
  }
  void KeyPartRunFailed(std::string_view database, std::string_view reason) override {
    module_.KeyPartRunFailed(database, reason);
  }
  bool StopRequested() const override { return module_.stopRequested_; }

 private:
  TfMvxBackupMain& module_;
  CleanupRound cleanup_;
};

TfMvxBackupMain::TfMvxBackupMain(const Clock& clock, EventLog& eventLog, ServiceOptions options)
    : clock_(clock),
      eventLog_(eventLog),
      options_(std::move(options)),
      exeDir_(options_.exeDir),
      textLog_(options_.exeDir, clock),
      database_(sqlCon_, settings_, textLog_),
      serviceTables_(database_),
      dMFunc_(CreateLinkModule(clock, textLog_, options_, stopRequested_)),
      reports_(std::make_unique<Reports>(*this)),
      backups_(std::make_unique<BackupEngine>(settings_, database_, sqlQuery_, serviceTables_,
                                              *reports_, installationId_, computerName_,
                                              stopRequested_, clock, options_.freeSpace)),
      keyParts_(std::make_unique<KeyPartMaintenance>(settings_, clock, database_, workQ_, openQ_,
                                                     serviceTables_, *reports_, installationId_,
                                                     computerName_, stopRequested_)),
      ownServiceControl_(CreateServiceControl(textLog_, stopRequested_, options_)),
      serviceControl_(options_.serviceControl != nullptr ? *options_.serviceControl
                                                         : *ownServiceControl_),
      timer1_([this] { OnTimer(); }) {
  shortQ_.SetTimeLimit(SqlConnection::kShortStatementLimit);
  database_.SetPortOverride(options_.databasePort);
  database_.SetLoginTimeout(options_.loginTimeout);
}

TfMvxBackupMain::~TfMvxBackupMain() {
  timer1_.Close();
  stopRequested_ = true;
  timer1_.WaitIdle();
  if (stopRowWriter_.joinable()) stopRowWriter_.join();
}

bool TfMvxBackupMain::ServiceStart() {
  timer1_.Close();
  cancelRequested_ = false;
  textLog_.ClearLastFileLogText();
  exeDir_ = options_.exeDir;
  serviceVersion_ = ReadFileVersion();
  NarrowSettingsAccess(IniPath(), textLog_);
  ClearSettings(settings_);
  LoadSettings(settings_, IniPath());
  startupPrepared_ = false;

  installationId_.clear();
  computerName_ = ReadComputerName();
  if (!dMFunc_) dMFunc_ = CreateLinkModule(clock_, textLog_, options_, stopRequested_);
  // One hung server costs the start one login timeout, not one per step; the ticks try afresh,
  // so the setting ends before the timer runs. So does the start's own deadline.
  database_.SetGiveUpAfterTimeout(true);
  sqlCon_.SetDeadline(std::chrono::steady_clock::now() + options_.startGiveUp);
  const auto endStartBounds = [this] {
    database_.SetGiveUpAfterTimeout(false);
    sqlCon_.SetDeadline(std::nullopt);
  };
  bool started = false;
  try {
    started = RunStartSteps();
  } catch (...) {
    endStartBounds();
    // What a stop cut short is no failure of the start.
    if (stopRequested_) return false;
    throw;
  }
  endStartBounds();
  if (!started) return false;
  timer1_.Open();
  timer1_.Arm(logClock_.Started(std::chrono::steady_clock::now(), options_.firstTickDelay,
                                options_.timerUnit * 60 * settings_.logBackupMinutes));
  return true;
}

bool TfMvxBackupMain::RunStartSteps() {
  struct Step {
    std::string_view name;
    std::function<void()> run;
    // Work outside the connection's deadline starts only while this much is left: the link
    // check's pings, lookups and socket reply wait up to about 25 s of their own.
    std::chrono::milliseconds mayTake{};
  };
  const std::chrono::milliseconds linkCheckTime =
      std::min<std::chrono::milliseconds>(kLinkCheckAllowance, options_.startGiveUp / 2);
  // The start message goes out before the timer runs: a first tick must never share the
  // connection with the start, however long the message takes to reach the server.
  const Step steps[] = {
      {"T0246 read", [this] { dMFunc_->SetTransportMode(serviceTables_.ReadTransportMode()); }},
      {"support link check", [this] { dMFunc_->CheckLink(); }, linkCheckTime},
      {"startup preparation", [this] { PrepareStartup(); }},
      {"service tables", [this] { serviceTables_.EnsureServiceTables(); }},
      {"T0246 version", [this] { serviceTables_.WriteServiceVersion(serviceVersion_); }},
      {"T0245 purge", [this] { serviceTables_.PurgeServiceLog(); }},
      {"RazuRarevi Start", [this] { serviceTables_.WriteServiceLog("", "RazuRarevi Start"); }},
  };
  const auto giveUpAt = std::chrono::steady_clock::now() + options_.startGiveUp;
  std::vector<std::string> skipped;
  for (const Step& step : steps) {
    if (stopRequested_) return false;
    if (sqlCon_.DeadlineMissed() || std::chrono::steady_clock::now() + step.mayTake >= giveUpAt) {
      skipped.emplace_back(step.name);
      continue;
    }
    try {
      step.run();
    } catch (...) {
      // A step the deadline cut short is skipped, not a failed start.
      if (!sqlCon_.DeadlineMissed()) throw;
    }
    if (sqlCon_.DeadlineMissed()) {
      database_.DisconnectDatabase();
      skipped.emplace_back(step.name);
    }
  }
  settings_.timerInt = CorrectedTimerInt(settings_.timerInt);
  if (!skipped.empty()) {
    try {
      textLog_.WriteFileLog("Start ran out of time, skipped: " + JoinedByCommas(skipped));
    } catch (...) {
      // The service runs all the same; the ticks do what the start skipped.
    }
  }
  return !stopRequested_;
}

bool TfMvxBackupMain::ServiceStop() {
  using Steady = std::chrono::steady_clock;
  timer1_.Close();
  stopRequested_ = true;
  sqlCon_.CutConnects(true);
  const Steady::time_point begun = Steady::now();
  const Steady::time_point stopEnd =
      begun + options_.statementGrace + options_.cancelGrace + kHeldWorkAllowance;
  const Steady::time_point lastResort = stopEnd - kStopRowReserve;
  Steady::time_point reportAt = begun + kStopPendingEvery;
  std::optional<Steady::time_point> cancelled;
  StopCanceller canceller(sqlCon_);
  const auto cancelAsked = [&] { return !cancelled && cancelRequested_.load(); };
  const auto awaited = [this] { return sqlCon_.Held() || sqlCon_.AwaitedWork().has_value(); };
  for (;;) {
    Steady::time_point next = reportAt;
    if (!cancelled) {
      next = std::min(next, begun + options_.statementGrace);
    } else {
      next = std::min(next, awaited() ? lastResort : *cancelled + options_.cancelGrace);
    }
    if (timer1_.WaitIdleUntil(next, cancelAsked)) break;
    const Steady::time_point now = Steady::now();
    if (!cancelled) {
      if (cancelRequested_ || now >= begun + options_.statementGrace) {
        // The statement fails and its operation takes its failure path.
        canceller.Request(std::chrono::milliseconds{0});
        cancelled = now;
      }
    } else {
      canceller.Request(kLateStatementAge);
      const bool undoing = awaited() && now < lastResort;
      if (now >= *cancelled + options_.cancelGrace && !undoing) {
        canceller.Abandon();
        if (const std::optional<std::string> work = sqlCon_.AwaitedWork()) {
          try {
            textLog_.WriteFileLog(*work +
                                  " may be left in SIMPLE recovery: the stop gave up on it");
          } catch (...) {
            // The event log still says that the stop gave up.
          }
        }
        eventLog_.Error(kServiceName, "Service failed on stop: the running work did not end");
        return false;
      }
    }
    if (now >= reportAt) {
      reportAt = now + kStopPendingEvery;
      if (options_.stopPending) options_.stopPending();
    }
  }
  canceller.Finish();
  sqlCon_.CutConnects(false);
  sqlCon_.Halt(false);  // a request that came just as the start ended
  if (sqlCon_.TakeCutOpen()) {
    // The server may hang: the row would only wait for it.
    try {
      textLog_.WriteFileLog(kStopMessage);
    } catch (...) {
      // The stop ends all the same.
    }
  } else {
    WriteStopRow(std::max(stopEnd, Steady::now() + kStopRowReserve));
  }
  dMFunc_.reset();
  return true;
}

void TfMvxBackupMain::WriteStopRow(std::chrono::steady_clock::time_point deadline) {
  struct Outcome {
    std::mutex mutex;
    std::condition_variable changed;
    bool finished = false;
    bool outOfTime = false;
  };
  auto outcome = std::make_shared<Outcome>();
  const auto write = [this, deadline, outcome] {
    {
      const SqlConnection::Hold bounded(sqlCon_);
      sqlCon_.SetDeadline(deadline);
      const bool stored = serviceTables_.WriteServiceLog("", kStopMessage);
      const bool outOfTime = !stored && (sqlCon_.DeadlineMissed() || sqlCon_.LastOpenTimedOut());
      sqlCon_.SetDeadline(std::nullopt);
      const std::lock_guard lock(outcome->mutex);
      outcome->finished = true;
      outcome->outOfTime = outOfTime;
    }
    outcome->changed.notify_all();
    stopRowOut_ = false;
  };
  {
    // The service manager keeps seeing the stop go on while the row waits for the server.
    const Heartbeat beat(options_.stopPending, kStopPendingEvery);
    if (stopRowWriter_.joinable()) stopRowWriter_.join();  // an earlier stop's
    stopRowOut_ = true;
    try {
      stopRowWriter_ = std::thread(write);
    } catch (const std::system_error&) {
      write();  // no thread to spare: bounded by the driver's own limits only
    }
    std::unique_lock lock(outcome->mutex);
    outcome->changed.wait_until(lock, deadline, [&] { return outcome->finished; });
    if (outcome->finished && !outcome->outOfTime) {
      lock.unlock();
      if (stopRowWriter_.joinable()) stopRowWriter_.join();
      return;
    }
  }
  try {
    textLog_.WriteFileLog(kStopMessage);
  } catch (...) {
    // The stop ends all the same.
  }
}

void TfMvxBackupMain::CancelNow() {
  stopRequested_ = true;
  cancelRequested_ = true;
  timer1_.Nudge();
}

void TfMvxBackupMain::AbortStart() {
  stopRequested_ = true;
  sqlCon_.Halt(true);
  sqlCon_.CancelRunningStatement();
}

void TfMvxBackupMain::RefreshLink() {
  dMFunc_->SetTransportMode(serviceTables_.ReadTransportMode());
  dMFunc_->CheckLink();
}

void TfMvxBackupMain::PrepareStartup() {
  if (!database_.ConnectDatabase()) return;
  OpenQuery(shortQ_, kImageDatabaseQuery);
  const bool exists = shortQ_.FieldInt(0) > 0;
  shortQ_.Close();

  if (exists && !ImageDatabaseListed(settings_)) {
    AddImageDatabase(settings_);
    WriteDbServerSection(settings_, IniPath());
  }

  OpenQuery(shortQ_, "select C001 from " + SqlIdentifier(settings_.databases[0]) +
                         ".dbo.T0101 where (C000 = '**' or C000 = '*') ");
  if (!shortQ_.Eof()) installationId_ = shortQ_.FieldText("C001");
  shortQ_.Close();

  database_.DisconnectDatabase();
  startupPrepared_ = true;
}

void TfMvxBackupMain::RegularWork() {
  textLog_.ResetLogFileByAge();
  try {
    if (startupPrepared_) {
      CheckKeyPartRequests(FormatDottedDate(clock_.Now()));
    } else {
      PrepareStartup();
    }
    if (startupPrepared_ && !stopRequested_) {
      CheckCompanion();
      Schedule schedule(*this);
      EvaluateSchedule(settings_, clock_, schedule);
    }
  } catch (...) {
    // A failure ends this tick's work silently; the next tick starts afresh.
  }
}

std::string TfMvxBackupMain::CheckKeyPartRequests(std::string_view dateText) {
  bool started = false;
  for (std::size_t slot = 0; slot < settings_.databases.size(); ++slot) {
    if (stopRequested_) break;
    if (!settings_.keyPartEligible[slot]) continue;
    const std::string& database = settings_.databases[slot];
    // A raise ends only this slot's check: one broken database never starves the others.
    try {
      if (keyParts_->RunKeyPartMaintenance("1", dateText, database)) started = true;
    } catch (const std::exception& e) {
      KeyPartRunFailed(database, e.what());
    } catch (...) {
      KeyPartRunFailed(database, "unknown error");
    }
  }
  return started ? "1" : "0";
}

void TfMvxBackupMain::KeyPartRunFailed(std::string_view database,
                                       std::string_view reason) noexcept {
  // The raised run left the connection where it stood, possibly in its own database.
  database_.DisconnectDatabase();
  try {
    textLog_.WriteFileLog(KeyPartFailureMessage(database, reason));
  } catch (...) {
    // A log that cannot be written must not stop the backups that follow.
  }
}

// Installs the companion service when it is missing, starts it when it is not running.
void TfMvxBackupMain::CheckCompanion() {
  CompanionInstaller(serviceControl_, *dMFunc_, exeDir_, [this](std::string_view message) {
    serviceTables_.WriteServiceLog("", message);
  }).CompanionCheck();
}

void TfMvxBackupMain::Timer1Timer() {
  timer1_.Disarm();
  // A failure of the refreshes is not the tick's to swallow; it goes to the event log after
  // the re-arming, even when its message is empty.
  std::optional<std::string> refreshFailure;
  try {
    RefreshLink();
    // A stop that came during the refreshes leaves the rest of the tick undone.
    if (!stopRequested_ && !settings_.serverName.empty() && !settings_.login.empty() &&
        !settings_.password.empty()) {
      RegularWork();
    }
  } catch (const std::exception& e) {
    refreshFailure = e.what();
  } catch (...) {
    refreshFailure = "unknown error";
  }
  timer1_.Arm(logClock_.TickEnded(std::chrono::steady_clock::now(),
                                  options_.timerUnit * settings_.timerInt));
  if (refreshFailure) eventLog_.Error(ExecutableFileName(), *refreshFailure);
}

void TfMvxBackupMain::OnTimer() {
  const std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now();
  const bool tickDue = logClock_.TickDue(now);
  if (logClock_.LogDue(now)) LogBackupTimer();
  if (tickDue && !stopRequested_) Timer1Timer();
}

void TfMvxBackupMain::LogBackupTimer() {
  timer1_.Disarm();
  if (startupPrepared_ && !stopRequested_) {
    try {
      backups_->RunLogBackups();
    } catch (...) {
      // A failure ends this round; the next one starts afresh.
    }
  }
  timer1_.Arm(logClock_.LogEnded(std::chrono::steady_clock::now()));
}

}  // namespace mvx
