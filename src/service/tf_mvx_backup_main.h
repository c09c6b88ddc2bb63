#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

#include "common/clock.h"
#include "common/report_sink.h"
#include "common/text_log.h"
#include "companion/service_control.h"
#include "config/settings.h"
#include "db/database.h"
#include "db/service_tables.h"
#include "db/sql_connection.h"
#include "service/event_log.h"
#include "service/log_backup_clock.h"
#include "service/timer.h"
#include "vendorlink/link_endpoints.h"
#include "vendorlink/link_module.h"

namespace mvx {

class BackupEngine;
class KeyPartMaintenance;

// Where the module runs and how fast its timer goes; tests shrink the waits
// and point the links at loopback servers.
struct ServiceOptions {
  std::string exeDir;  // with its trailing separator
  std::chrono::milliseconds firstTickDelay{3000};
  std::chrono::milliseconds timerUnit{1000};  // the length of one TimerInt second
  int databasePort = 0;                       // 0: the server name decides
  LinkEndpoints endpoints = DefaultLinkEndpoints();
  Pinger* pinger = nullptr;  // null: the system's ICMP echo
  // The companion's service manager; null: the system's (systemd on Linux).
  ServiceControl* serviceControl = nullptr;
  // Called about every second while a stop waits for a running tick.
  std::function<void()> stopPending;
  // Free bytes of the volume that holds a path; empty: the system's answer.
  std::function<std::uint64_t(std::string_view path)> freeSpace;
  // How long a stop lets a running SQL statement go on before it cancels it,
  // and how long it then still waits for the tick to end.
  std::chrono::milliseconds statementGrace{30000};
  std::chrono::milliseconds cancelGrace{10000};
  // Every open of the database connection ends within this.
  std::chrono::seconds loginTimeout = ConnectionParams{}.loginTimeout;
  // Past this the start gives up on its remaining statements (named in the
  // text log) and the service runs: the login and statement bounds then keep
  // a Windows start, which takes no control, within 60 s.
  std::chrono::milliseconds startGiveUp{50000};
};

// The service module: owns the settings, the run-time state, the database
// connection and its query objects, the link module and Timer1.
class TfMvxBackupMain {
 public:
  TfMvxBackupMain(const Clock& clock, EventLog& eventLog, ServiceOptions options);
  ~TfMvxBackupMain();
  TfMvxBackupMain(const TfMvxBackupMain&) = delete;
  TfMvxBackupMain& operator=(const TfMvxBackupMain&) = delete;

  // Answers started; an exception that leaves it ends the start. False when
  // AbortStart() came first (or a stop ever did: a module starts once): the
  // timer is not armed and nothing was written after the request.
  bool ServiceStart();
  // Disables the timer, lets a running tick end at its next safe point and
  // waits for it, then writes "RazuRarevi Stop" and frees the link module.
  // The link's waits end at once and a connect under way within a second
  // (one that had to be cut means a hung server: "RazuRarevi Stop" then goes
  // to the text log instead of the database); a SQL statement
  // still running after statementGrace (or at once after CancelNow) is
  // cancelled, and so is one that starts later and runs on. The deadlines are
  // kept on this thread, which never waits in the driver: the cancels go out
  // from a thread of their own. False when even then the tick did not end
  // within cancelGrace (a cancel that never took, or work stuck outside SQL;
  // the undo of a half-done full backup gets until the last resort): nothing
  // is written, and the host ends the process without freeing what the tick
  // holds. From the switch to SIMPLE until a full backup's outcome row, the
  // stop waits until its last resort, and on giving up names the database
  // left in SIMPLE in the text log. The final row gets what is left of the
  // whole stop's bound (at least a second), with stopPending still called; a
  // row that does not fit goes to the text log.
  bool ServiceStop();
  // A second stop request or a system shutdown: makes a stop, under way or
  // about to begin, cancel the running statement without waiting. Any thread.
  void CancelNow();
  // A stop request during ServiceStart (any other thread): no statement or
  // connect goes out after it, one under way is cut, and the start returns
  // false. May wait in the driver while it cancels the running statement.
  void AbortStart();
  // A connect the module gave up on still runs in the driver: the process must end without
  // unloading the driver (no library teardown).
  // So does the stop's last row when the stop walked away from it. That row's thread is asked
  // first: while it runs it may still be recording a connect it gave up on.
  bool ConnectStillOut() const { return stopRowOut_ || sqlCon_.ConnectStillOut(); }
  // Set from the start of a stop; every wait of a tick watches it.
  const std::atomic<bool>& StopFlag() const { return stopRequested_; }
  bool ServicePause() { return true; }
  bool ServiceContinue() { return true; }

  // One tick of Timer1 (normally run by the timer's thread).
  void Timer1Timer();
  // The log backups' turn on Timer1's thread (LogBackup on; normally run by the timer).
  void LogBackupTimer();
  // Startup preparation: the Brivellon check and the installation identifier.
  void PrepareStartup();
  // Serves the application's key-part requests of every eligible slot, in slot order; "1" when
  // a run was started. A run that raises ends the check (written to the text log), never the
  // tick. `dateText` is today as "yyyy.mm.dd".
  std::string CheckKeyPartRequests(std::string_view dateText);

  const Settings& settings() const { return settings_; }
  const std::string& ExeDir() const { return exeDir_; }
  const std::string& ServiceVersion() const { return serviceVersion_; }
  const std::string& InstallationId() const { return installationId_; }
  const std::string& ComputerName() const { return computerName_; }
  bool StartupPrepared() const { return startupPrepared_; }
  TdMFunc* dMFunc() { return dMFunc_.get(); }
  TextLog& textLog() { return textLog_; }
  ServiceTables& serviceTables() { return serviceTables_; }
  Timer1& timer1() { return timer1_; }

 private:
  class Reports;
  class Schedule;
  // Timer1 fired: the log backups and the tick, whichever is due.
  void OnTimer();
  void RefreshLink();
  // The start's steps up to "RazuRarevi Start"; false when a stop request ended them. Steps
  // that the start's time no longer allows are skipped and named in the text log.
  bool RunStartSteps();
  // Writes "RazuRarevi Stop" by `deadline`, to the text log when it does not fit. The row runs on
  // a thread of its own, walked away from at the deadline: a driver may overrun its own limit.
  void WriteStopRow(std::chrono::steady_clock::time_point deadline);
  void RegularWork();
  // After a key-part run raised: a fresh connection for the work that follows, one text-log line.
  void KeyPartRunFailed(std::string_view database, std::string_view reason) noexcept;
  void CheckCompanion();
  std::string IniPath() const { return exeDir_ + "RazuRarevi.ini"; }

  const Clock& clock_;
  EventLog& eventLog_;
  ServiceOptions options_;

  Settings settings_;
  std::string exeDir_;
  std::string serviceVersion_;
  std::string installationId_;
  std::string computerName_;
  bool startupPrepared_ = false;
  std::atomic<bool> stopRequested_{false};
  std::atomic<bool> cancelRequested_{false};

  TextLog textLog_;
  SqlConnection sqlCon_;
  SqlQuery sqlQuery_{sqlCon_};
  SqlQuery openQ_{sqlCon_};
  SqlQuery workQ_{sqlCon_};
  // The short statements of the start's preparation, bounded.
  SqlQuery shortQ_{sqlCon_};
  Database database_;
  ServiceTables serviceTables_;
  std::unique_ptr<TdMFunc> dMFunc_;
  std::unique_ptr<Reports> reports_;
  std::unique_ptr<BackupEngine> backups_;
  std::unique_ptr<KeyPartMaintenance> keyParts_;
  std::unique_ptr<ServiceControl> ownServiceControl_;
  ServiceControl& serviceControl_;
  // The stop's last row; still in the driver while stopRowOut_ is set.
  std::thread stopRowWriter_;
  std::atomic<bool> stopRowOut_{false};
  LogBackupClock logClock_;
  // Last, so its thread ends before anything a tick uses goes away.
  Timer1 timer1_;
};

}  // namespace mvx
