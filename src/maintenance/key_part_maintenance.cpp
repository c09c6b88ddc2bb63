#include "maintenance/key_part_maintenance.h"

#include <cstdio>
#include <iterator>
#include <utility>

#include "common/date_text.h"
#include "db/query_helpers.h"
#include "maintenance/key_part_statements.h"

namespace mvx {
namespace {

constexpr std::string_view kReportKind = "4";
constexpr std::string_view kStepCodes[] = {"HD", "DS", "DB", "DT", "SY", "SS", "OT"};

// Whether the row read from T0500 asks for a run in this mode.
bool RunDue(std::string_view mode, std::string_view dateText, const std::string& state,
            const std::string& lastCompleted, const std::string& lastStarted) {
  if (mode == "2") {
    // One completed run a day; a run that failed today waits for the next KeyWeek day.
    if (lastCompleted >= dateText) return false;
    return !(state == "0" && lastStarted == dateText);
  }
  if (mode == "1") return state == "3";
  return false;
}

}  // namespace

KeyPartMaintenance::KeyPartMaintenance(const Settings& settings, const Clock& clock,
                                       Database& database, SqlQuery& workQ, SqlQuery& openQ,
                                       ServiceTables& serviceTables, ReportSink& reports,
                                       const std::string& installationId,
                                       const std::string& computerName,
                                       const std::atomic<bool>& stopRequested)
    : settings_(settings),
      clock_(clock),
      database_(database),
      workQ_(workQ),
      openQ_(openQ),
      serviceTables_(serviceTables),
      reports_(reports),
      installationId_(installationId),
      computerName_(computerName),
      stopRequested_(stopRequested) {}

// A stop ends the run between two calls, where the run stands as after a call that raised. A
// rebuild still running when the stop's statement grace (30 s) has passed is cancelled: the
// call then fails as a refused one does, and the run ends there.
void KeyPartMaintenance::EndAtStop() const {
  if (stopRequested_) throw KeyPartRunStopped();
}

std::string KeyPartMaintenance::Today() const { return FormatDate(clock_.Now()); }

std::string KeyPartMaintenance::Now() const {
  const LocalDateTime t = clock_.Now();
  char clock[16];
  std::snprintf(clock, sizeof clock, " %02d:%02d:%02d", t.hour % 100, t.minute % 100,
                t.second % 100);
  return FormatDate(t) + clock;
}

bool KeyPartMaintenance::RunKeyPartMaintenance(std::string_view mode, std::string_view dateText,
                                               std::string_view database) {
  if (!database_.ConnectDatabase()) return false;
  ExecuteStatement(workQ_, KeyPartUseStatement(database));
  OpenQuery(openQ_, ReadKeyPartStatusStatement(database));
  const std::string state = openQ_.FieldText("C001");
  if (!RunDue(mode, dateText, state, openQ_.FieldText("C002"), openQ_.FieldText("C003"))) {
    openQ_.Close();
    database_.DisconnectDatabase();
    return false;
  }
  KeyPartFlags flags;
  for (std::size_t i = 0; i < flags.steps.size(); ++i) {
    flags.steps[i] = openQ_.FieldText("C01" + std::to_string(i + 1));
  }
  for (std::size_t i = 0; i < flags.procedures.size(); ++i) {
    flags.procedures[i] = openQ_.FieldText("C03" + std::to_string(i + 1));
  }
  openQ_.Close();
  if (stopRequested_) {
    // Nothing written yet: a request stays for the next start.
    database_.DisconnectDatabase();
    return false;
  }

  ExecuteStatement(workQ_, KeyPartStartStatement(database, Today(), Now()));
  ExecuteStatement(workQ_, ClearKeyPartDetailStatement(database));
  tState_ = std::move(flags);
  serviceTables_.WriteServiceLog(database, "KeyPart정리 시작!!");

  stemMode_.clear();
  OpenQuery(openQ_, ReadStemOptionStatement(database));
  if (!openQ_.Eof()) stemMode_ = openQ_.FieldText("C004");
  openQ_.Close();
  if (stemMode_ != "2") stemMode_ = "1";

  bool ok = true;
  try {
    for (std::size_t i = 0; i < std::size(kStepCodes) && ok; ++i) {
      if (tState_.steps[i] != "1") continue;
      EndAtStop();
      ok = RunKeyPartStep(kStepCodes[i], database);
    }
  } catch (const KeyPartRunStopped&) {
    // No end statement, row or report: C001 stays "2", as after a call that raised.
    database_.DisconnectDatabase();
    return true;
  }

  if (ok) {
    ExecuteStatement(workQ_, KeyPartCompletedStatement(database, Today(), Now()));
    serviceTables_.WriteServiceLog(database, "KeyPart정리 완료!!!");
  } else {
    ExecuteStatement(workQ_, KeyPartFailedStatement(database, Now()));
    serviceTables_.WriteServiceLog(database, "keyPart 정리 Error!!!");
  }
  reports_.SendReport(kReportKind, installationId_, database, ok ? "011" : "010", computerName_);
  database_.DisconnectDatabase();
  return true;
}

std::string KeyPartFailureMessage(std::string_view database, std::string_view reason) {
  std::string message = "KeyPart check failed: ";
  message.append(database).append(": ").append(reason);
  return message;
}

}  // namespace mvx
