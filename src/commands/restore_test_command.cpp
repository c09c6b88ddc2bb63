#include <exception>
#include <ostream>

#include "backup/restore_run.h"
#include "backup/restore_statements.h"
#include "commands/command_arguments.h"
#include "commands/operator_command.h"
#include "commands/restore_support.h"
#include "common/date_text.h"
#include "common/text_log.h"
#include "common/text_util.h"
#include "db/database.h"
#include "db/query_helpers.h"
#include "db/service_tables.h"

namespace mvx {
namespace {

const CommandGrammar kRestoreTestGrammar{
    "-restore-test", "usage: MvxRazuRarevi -restore-test [DB] [--ini PATH]\n", {}, {"--ini"}, 1};
constexpr std::string_view kTestPassed = "Restore Test 완료";
constexpr std::string_view kTestFailed = "Restore Test Fail!!!";
constexpr std::string_view kTestSuffix = "_RestoreTest";

struct TestResult {
  bool passed = false;
  std::string chain = "no chain";
  std::string reason;
};

// The slot names, each once.
std::vector<std::string> SlotDatabases(const Settings& settings) {
  std::vector<std::string> names;
  for (const std::string& name : settings.databases) {
    if (name.empty()) continue;
    bool seen = false;
    for (const std::string& earlier : names) seen = seen || EqualsNoCase(earlier, name);
    if (!seen) names.push_back(name);
  }
  return names;
}

// Drops the copy, ending every session in it first; the reason when that fails. A copy
// left restoring by a failed restore refuses the ALTER but not the DROP.
std::string DropCopy(SqlQuery& query, const std::string& copy, const RestoreSay& say) {
  const std::string singleUser = SingleUserStatement(copy);
  say(singleUser);
  static_cast<void>(RunStatement(query, singleUser));
  const std::string drop = DropDatabaseStatement(copy);
  say(drop);
  const StatementOutcome dropped = RunStatement(query, drop);
  return dropped.succeeded ? std::string() : "could not drop " + copy + ": " + dropped.error;
}

// Drops the copy when the server has it; the reason when that fails.
std::string DropIfPresent(SqlQuery& query, const std::string& copy, const RestoreSay& say) {
  std::string reason;
  const std::optional<bool> present = DatabaseOnServer(query, copy, say, reason);
  if (!present) return reason;
  return *present ? DropCopy(query, copy, say) : std::string();
}

// A copy left by an earlier test goes; a database of that name that the test did not make (its
// files are not where and how the test names them) stays, and the test fails.
std::string ClearLeftover(SqlQuery& query, const RestoreRequest& request, const RestoreSay& say) {
  std::string reason;
  const std::optional<bool> present = DatabaseOnServer(query, request.target, say, reason);
  if (!present || !*present) return reason;
  const std::optional<RestoreFolders> folders = TargetFolders(query, request, say, reason);
  if (!folders) return reason;
  const std::optional<std::vector<std::string>> files =
      DatabaseFiles(query, request.target, say, reason);
  if (!files) return reason;
  // A database whose files cannot be seen is not proven the test's own.
  bool own = !files->empty();
  for (const std::string& file : *files) {
    own = own && IsPlannedFileName(file, request.target, folders->data, folders->log);
  }
  if (!own) {
    return "a database named " + request.target +
           " exists that no restore test made; drop or rename it";
  }
  return DropCopy(query, request.target, say);
}

// Restores the newest chain of `database` as a copy, checks the copy and
// drops it again.
TestResult TestDatabase(SqlConnection& connection, SqlQuery& query, const Settings& settings,
                        const ServiceOptions& options, const std::string& database,
                        const std::string& today, const RestoreSay& say) {
  TestResult result;
  const std::optional<RestoreChain> named =
      FindRestoreChain(settings, database, today, result.reason);
  if (!named) return result;
  result.chain = DescribeChain(*named);  // until the headers have chosen
  if (!connection.IsOpen() &&
      !ConnectToMaster(connection, settings, options.databasePort, result.reason)) {
    return result;
  }
  RestoreRequest request;
  request.database = database;
  request.target = database + std::string(kTestSuffix);
  request.folder = settings.bkPath;
  request.untilStamp = DateStamp(today);
  request.moveFiles = true;
  request.freeSpace = VisibleDiskOf;
  result.reason = ClearLeftover(query, request, say);
  if (!result.reason.empty()) return result;

  const RestoreOutcome restored = RestoreOnServer(query, request, say);
  if (restored.status == RestoreStatus::kTargetExists) {
    // Made after the leftover was cleared, by someone else: not this test's to drop.
    result.reason = "a database named " + request.target +
                    " exists that no restore test made; drop or rename it";
    return result;
  }
  if (restored.chain) {
    result.chain = DescribeChain(*restored.chain);
    say("chain: " + result.chain);
  }
  if (restored.status == RestoreStatus::kRestored) {
    const std::string check = CheckDatabaseStatement(request.target);
    say(check);
    const StatementOutcome checked = RunStatement(query, check);
    result.passed = checked.succeeded;
    if (!checked.succeeded) result.reason = "DBCC CHECKDB reports: " + checked.error;
  } else {
    result.reason = restored.reason;
  }
  // Whatever happened, no copy stays behind; a copy that cannot be dropped
  // fails the test: the next one would find it in its way.
  const std::string leftover = DropIfPresent(query, request.target, say);
  if (!leftover.empty()) {
    result.passed = false;
    result.reason += (result.reason.empty() ? "" : "; ") + leftover;
  }
  return result;
}

}  // namespace

int RunRestoreTestCommand(const std::vector<std::string>& args, const ServiceOptions& options,
                          const Clock& clock, std::ostream& out, std::ostream& err) {
  const std::optional<CommandArguments> words =
      ReadCommandArguments(args, kRestoreTestGrammar, err);
  if (!words) return 2;
  const std::optional<OperatorSettings> loaded =
      LoadRestoreSettings(options, words->Value("--ini"), err);
  if (!loaded) return 1;
  const Settings& settings = loaded->settings;
  const std::vector<std::string> databases =
      words->names.empty() ? SlotDatabases(settings) : words->names;
  if (databases.empty()) {
    err << "MvxRazuRarevi -restore-test: no database is configured\n";
    return 1;
  }

  // The outcome rows go to the slot-1 database's T0245 on a connection of
  // their own; the restores run in master.
  TextLog textLog(options.exeDir, clock);
  SqlConnection rowConnection;
  Database rowDatabase(rowConnection, settings, textLog);
  rowDatabase.SetPortOverride(options.databasePort);
  ServiceTables tables(rowDatabase);
  SqlConnection connection;
  SqlQuery query(connection);

  const std::string today = FormatDate(clock.Now());
  bool allPassed = true;
  for (const std::string& database : databases) {
    out << "Restore test of " << database << ":\n";
    const TestResult result =
        TestDatabase(connection, query, settings, options, database, today,
                     [&](std::string_view line) { out << "  " << line << "\n"
                                                      << std::flush; });
    allPassed = allPassed && result.passed;
    out << "  " << (result.passed ? "passed" : "FAILED");
    if (!result.reason.empty()) out << ": " << result.reason;
    out << "\n";
    tables.WriteServiceLog(database, result.passed ? kTestPassed : kTestFailed);
    std::string line = std::string(result.passed ? kTestPassed : kTestFailed) + " " + database +
                       ": " + result.chain;
    if (!result.reason.empty()) line += ": " + result.reason;
    try {
      textLog.WriteFileLog(line);
    } catch (const std::exception& e) {
      err << "MvxRazuRarevi -restore-test: " << e.what() << "\n";
    }
  }
  connection.Close();
  return allPassed ? 0 : 1;
}

}  // namespace mvx
