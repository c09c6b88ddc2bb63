#include <vector>

#include "common/text_util.h"
#include "db/query_helpers.h"
#include "maintenance/key_part_maintenance.h"
#include "maintenance/key_part_statements.h"

namespace mvx {
namespace {

// Procedures 3 to 9 of a step, called once with the step code.
struct RebuildProcedure {
  std::size_t flag;  // index into the procedure flags (C031 is 0)
  std::string_view name;
  std::string_view failureLine;
  bool slotOneQuendrilaxoOnly;
};

constexpr RebuildProcedure kRebuilds[] = {
    {2, "PM_T0120BKeyRebuild", "T0120B 자료정리 Fail!!!", false},
    {3, "PM_T0120CKeyRebuild", "T0120C 자료정리 Fail!!!", false},
    {4, "PM_T0120EKeyRebuild", "T0120E 자료정리 Fail!!!", false},
    {5, "PM_T0122KeyRebuild", "T0122 자료정리 Fail!!!", true},
    {6, "PM_T0122MKeyRebuild", "T0122M 자료정리 Fail!!!", true},
    {7, "PM_T0123KeyRebuild", "T0123 자료정리 Fail!!!", false},
    {8, "PM_T0124KeyRebuild", "T0124 자료정리 Fail!!!", false},
};

// "HD" initialises and rebuilds T0120 per sub-code; every other step by its own code.
std::vector<std::string_view> CodeList(std::string_view stepCode) {
  if (stepCode == "HD") return {"CS", "CT", "HS", "HT", "KS", "KT"};
  return {stepCode};
}

std::string ProcedureStatement(std::string_view procedure, std::string_view argument) {
  return "Exec " + std::string(procedure) + " " + SqlLiteral(argument);
}

}  // namespace

bool KeyPartMaintenance::CallKeyPartProcedure(std::string_view database,
                                              std::string_view statement) {
  EndAtStop();
  // A stored activity row closes the connection, and the statement that reopens it lands in
  // the connection database: unqualified procedures would rebuild another database's keys.
  if (!EqualsNoCase(database_.connection().CurrentDatabase(), database)) {
    const StatementOutcome use = RunStatement(workQ_, KeyPartUseStatement(database));
    if (!EqualsNoCase(database_.connection().CurrentDatabase(), database)) {
      throw SqlError(
          use.succeeded ? "cannot change to database " + std::string(database) : use.error,
          use.nativeError);
    }
  }
  OpenQuery(openQ_, statement);
  const bool succeeded = openQ_.FieldText("C001") == "1";
  openQ_.Close();
  return succeeded;
}

bool KeyPartMaintenance::RunProcedureOverCodes(std::string_view database,
                                               std::string_view procedure,
                                               std::string_view stepCode, std::string& lastCode) {
  for (std::string_view code : CodeList(stepCode)) {
    lastCode = std::string(code);
    if (!CallKeyPartProcedure(database, ProcedureStatement(procedure, code))) return false;
  }
  return true;
}

bool KeyPartMaintenance::RunKeyPartStep(std::string_view stepCode, std::string_view database) {
  ExecuteStatement(workQ_, KeyPartStepStartStatement(database, stepCode));
  bool ok = true;
  const auto& flags = tState_.procedures;
  std::string lastCode;

  if (flags[0] == "1") {
    ExecuteStatement(workQ_, KeyInitStartStatement(database, stepCode));
    ok = RunProcedureOverCodes(database, "PM_KeyInit", stepCode, lastCode);
    ExecuteStatement(workQ_, KeyInitEndStatement(database, lastCode, ok));
  }
  if (flags[1] == "1" && ok) {
    ExecuteStatement(workQ_, T0120StartStatement(database, stepCode));
    ok = RunProcedureOverCodes(database, "PM_T0120KeyRebuild", stepCode, lastCode);
    ExecuteStatement(workQ_, T0120EndStatement(database, lastCode, ok));
    if (!ok) serviceTables_.WriteServiceLog(database, "T0120 자료정리 Error!!!");
  }

  // Orders 6 and 7 depend on the application family of slot 1, whichever database runs.
  const bool slotOneQuendrilaxo = StartsWith(UpperAscii(settings_.databases[0]), "QUENDRILAXO");
  for (const RebuildProcedure& rebuild : kRebuilds) {
    if (!ok) break;
    if (rebuild.slotOneQuendrilaxoOnly && !slotOneQuendrilaxo) continue;
    if (flags[rebuild.flag] != "1") continue;
    // PM_T0120EKeyRebuild takes StemMode ("1" or "2") before the step code.
    const std::string statement =
        rebuild.name == "PM_T0120EKeyRebuild"
            ? "Exec PM_T0120EKeyRebuild '" + stemMode_ + "', " + SqlLiteral(stepCode)
            : ProcedureStatement(rebuild.name, stepCode);
    ok = CallKeyPartProcedure(database, statement);
    if (!ok) serviceTables_.WriteServiceLog(database, rebuild.failureLine);
  }

  ExecuteStatement(workQ_, KeyPartStepEndStatement(database, stepCode, ok));
  return ok;
}

}  // namespace mvx
