#pragma once

#include <array>
#include <atomic>
#include <stdexcept>
#include <string>
#include <string_view>

#include "common/clock.h"
#include "common/report_sink.h"
#include "config/settings.h"
#include "db/database.h"
#include "db/service_tables.h"
#include "db/sql_connection.h"

namespace mvx {

// tState: the flags of the last run that passed its gate, as read from T0500.
struct KeyPartFlags {
  std::array<std::string, 7> steps;       // C011 ... C017, for "HD" "DS" "DB" "DT" "SY" "SS" "OT"
  std::array<std::string, 9> procedures;  // C031 ... C039, in the order of the procedure table
};

// A run left at a safe point because the service stops; the run itself
// catches it.
class KeyPartRunStopped : public std::runtime_error {
 public:
  KeyPartRunStopped() : std::runtime_error("Stopped") {}
};

// The key-part maintenance of the application databases: the run for one
// database and its steps, with the progress kept in the database's T0500.
// Used from the timer tick only, one call at a time.
class KeyPartMaintenance {
 public:
  // Held by reference: the service module owns everything, and
  // InstallationId and ComputerName change while the service runs. `workQ`
  // takes the statements that change T0500, `openQ` the reads and the
  // procedure calls. `stopRequested` is looked at before each step code and
  // each procedure call.
  KeyPartMaintenance(const Settings& settings, const Clock& clock, Database& database,
                     SqlQuery& workQ, SqlQuery& openQ, ServiceTables& serviceTables,
                     ReportSink& reports, const std::string& installationId,
                     const std::string& computerName, const std::atomic<bool>& stopRequested);

  // Mode "1" serves a request (C001 "3"), mode "2" is the weekly run, gated
  // by the dates in T0500 against `dateText` ("yyyy-mm-dd"). True when a run
  // was started, whatever its outcome; false when none was due or the
  // database could not be reached. A failing read or procedure call passes
  // to the caller and leaves the run where it stood (C001 at "2"). A stop
  // request ends the run the same way at its next step code or procedure
  // call, but closes the connection and returns true (false when it came
  // before the run's start was written).
  bool RunKeyPartMaintenance(std::string_view mode, std::string_view dateText,
                             std::string_view database);
  // One step code: the enabled procedures in their order, until the first
  // that does not answer "1". True when none failed.
  bool RunKeyPartStep(std::string_view stepCode, std::string_view database);
  // One procedure statement, run in `database`: true when column C001 of its
  // first row is "1". Errors of the call pass on; throws KeyPartRunStopped
  // instead of calling once a stop is requested.
  bool CallKeyPartProcedure(std::string_view database, std::string_view statement);

  const KeyPartFlags& tState() const { return tState_; }
  const std::string& StemMode() const { return stemMode_; }

 private:
  bool RunProcedureOverCodes(std::string_view database, std::string_view procedure,
                             std::string_view stepCode, std::string& lastCode);
  void EndAtStop() const;
  std::string Today() const;
  std::string Now() const;

  const Settings& settings_;
  const Clock& clock_;
  Database& database_;
  SqlQuery& workQ_;
  SqlQuery& openQ_;
  ServiceTables& serviceTables_;
  ReportSink& reports_;
  const std::string& installationId_;
  const std::string& computerName_;
  const std::atomic<bool>& stopRequested_;
  KeyPartFlags tState_;
  std::string stemMode_;
};

// The text-log line of a key-part run that raised.
std::string KeyPartFailureMessage(std::string_view database, std::string_view reason);

}  // namespace mvx
