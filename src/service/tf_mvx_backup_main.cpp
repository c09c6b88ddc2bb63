#include "service/tf_mvx_backup_main.h"

#include <algorithm>
#include <exception>
#include <optional>

#include "backup/backup_engine.h"
#include "common/date_text.h"
#include "common/host_info.h"
#include "common/owner_only_access.h"
#include "common/text_util.h"
#include "companion/companion_installer.h"
#include "db/query_helpers.h"
#include "maintenance/key_part_maintenance.h"
#include "service/image_database.h"
#include "service/schedule.h"
#include "service/stop_canceller.h"

namespace mvx {
namespace {

constexpr int kTimerIntFloor = 500;
constexpr int kTimerIntFallback = 1000;
// How often a stop reports that it waits, and looks again for late statements.
constexpr std::chrono::milliseconds kStopPendingEvery{1000};
// Past statementGrace and cancelGrace, how long a stop still waits for the undo
// of a half-done full backup, which is never cancelled: 30 + 10 + 5 = 45 s.
constexpr std::chrono::milliseconds kHeldWorkAllowance{5000};
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
                                              stopRequested_, options_.freeSpace)),
      keyParts_(std::make_unique<KeyPartMaintenance>(settings_, clock, database_, workQ_, openQ_,
                                                     serviceTables_, *reports_, installationId_,
                                                     computerName_, stopRequested_)),
      ownServiceControl_(CreateServiceControl(textLog_, stopRequested_, options_)),
      serviceControl_(options_.serviceControl != nullptr ? *options_.serviceControl
                                                         : *ownServiceControl_),
      timer1_([this] { Timer1Timer(); }) {
  database_.SetPortOverride(options_.databasePort);
  database_.SetLoginTimeout(options_.loginTimeout);
}

TfMvxBackupMain::~TfMvxBackupMain() {
  timer1_.Close();
  stopRequested_ = true;
  timer1_.WaitIdle();
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
  // so the setting ends before the timer runs.
  database_.SetGiveUpAfterTimeout(true);
  bool started = false;
  try {
    started = RunStartSteps();
  } catch (...) {
    database_.SetGiveUpAfterTimeout(false);
    // What a stop cut short is no failure of the start.
    if (stopRequested_) return false;
    throw;
  }
  database_.SetGiveUpAfterTimeout(false);
  if (!started) return false;
  timer1_.Open();
  timer1_.Arm(options_.firstTickDelay);
  return true;
}

bool TfMvxBackupMain::RunStartSteps() {
  if (stopRequested_) return false;
  RefreshLink();
  if (stopRequested_) return false;
  PrepareStartup();
  if (stopRequested_) return false;
  serviceTables_.EnsureServiceTables();
  if (stopRequested_) return false;
  serviceTables_.WriteServiceVersion(serviceVersion_);
  if (stopRequested_) return false;
  serviceTables_.PurgeServiceLog();
  if (stopRequested_) return false;
  if (settings_.timerInt < kTimerIntFloor) settings_.timerInt = kTimerIntFallback;
  // The start message goes out before the timer runs: a first tick must never share the
  // connection with the start, however long the message takes to reach the server.
  serviceTables_.WriteServiceLog("", "RazuRarevi Start");
  return !stopRequested_;
}

bool TfMvxBackupMain::ServiceStop() {
  using Steady = std::chrono::steady_clock;
  timer1_.Close();
  stopRequested_ = true;
  sqlCon_.CutConnects(true);
  const Steady::time_point begun = Steady::now();
  const Steady::time_point lastResort =
      begun + options_.statementGrace + options_.cancelGrace + kHeldWorkAllowance;
  Steady::time_point reportAt = begun + kStopPendingEvery;
  std::optional<Steady::time_point> cancelled;
  StopCanceller canceller(sqlCon_);
  const auto cancelAsked = [&] { return !cancelled && cancelRequested_.load(); };
  for (;;) {
    Steady::time_point next = reportAt;
    if (!cancelled) {
      next = std::min(next, begun + options_.statementGrace);
    } else {
      next = std::min(next, sqlCon_.Held() ? lastResort : *cancelled + options_.cancelGrace);
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
      const bool undoing = sqlCon_.Held() && now < lastResort;
      if (now >= *cancelled + options_.cancelGrace && !undoing) {
        canceller.Abandon();
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
    const SqlConnection::Hold bounded(sqlCon_);
    serviceTables_.WriteServiceLog("", kStopMessage);
  }
  dMFunc_.reset();
  return true;
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
  OpenQuery(sqlQuery_, kImageDatabaseQuery);
  const bool exists = sqlQuery_.FieldInt(0) > 0;
  sqlQuery_.Close();

  if (exists && !ImageDatabaseListed(settings_)) {
    AddImageDatabase(settings_);
    WriteDbServerSection(settings_, IniPath());
  }

  OpenQuery(sqlQuery_, "select C001 from " + SqlIdentifier(settings_.databases[0]) +
                           ".dbo.T0101 where (C000 = '**' or C000 = '*') ");
  if (!sqlQuery_.Eof()) installationId_ = sqlQuery_.FieldText("C001");
  sqlQuery_.Close();

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
  timer1_.Arm(options_.timerUnit * settings_.timerInt);
  if (refreshFailure) eventLog_.Error(ExecutableFileName(), *refreshFailure);
}

}  // namespace mvx
