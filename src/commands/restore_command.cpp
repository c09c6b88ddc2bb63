#include <ostream>

#include "backup/restore_run.h"
#include "commands/command_arguments.h"
#include "commands/operator_command.h"
#include "commands/restore_support.h"
#include "common/date_text.h"
#include "common/text_util.h"

namespace mvx {
namespace {

const CommandGrammar kRestoreGrammar{
    "-restore",
    "usage: MvxRazuRarevi -restore DB [--date YYYY-MM-DD] [--as NEWNAME] [--replace] [--run] "
    "[--ini PATH]\n",
    {"--replace", "--run"},
    {"--ini", "--date", "--as"},
    1};

int UsageError(std::string_view reason, std::ostream& err) {
  ReportUsageError(kRestoreGrammar, reason, err);
  return 2;
}

void ShowPlan(const RestoreRequest& request, std::ostream& out) {
  out << "Statements (nothing is sent without --run):\n";
  for (const std::string& statement : RestoreStatements(request)) out << "  " << statement << "\n";
  out << "With --run, each file's header is checked first (RESTORE HEADERONLY)";
  if (!request.replace)
    out << "; restoring over an existing " << request.target << " needs --replace";
  out << ".\n";
  if (request.moveFiles) {
    out << "The MOVE clauses come from the server's file list (RESTORE FILELISTONLY): the files "
           "go to its default data and log folders as "
        << request.target << ".mdf, " << request.target << "_2.ndf, ..., " << request.target
        << "_log.ldf.\n";
  }
}

}  // namespace

int RunRestoreCommand(const std::vector<std::string>& args, const ServiceOptions& options,
                      const Clock& clock, std::ostream& out, std::ostream& err) {
  const std::optional<CommandArguments> words = ReadCommandArguments(args, kRestoreGrammar, err);
  if (!words) return 2;
  if (words->names.size() != 1) return UsageError("name one database to restore", err);
  const std::optional<std::string> asName = words->Value("--as");
  const std::optional<std::string> dateWord = words->Value("--date");
  if (dateWord && !ParseDateText(*dateWord)) {
    return UsageError("--date takes a date as YYYY-MM-DD, not " + *dateWord, err);
  }
  const std::optional<OperatorSettings> loaded =
      LoadRestoreSettings(options, words->Value("--ini"), err);
  if (!loaded) return 1;
  const Settings& settings = loaded->settings;

  RestoreRequest request;
  request.database = words->names[0];
  request.target = asName.value_or(request.database);
  request.moveFiles = asName && !EqualsNoCase(*asName, request.database);
  request.replace = words->Flag("--replace");
  const std::string date = dateWord.value_or(FormatDate(clock.Now()));
  std::string reason;
  std::optional<RestoreChain> chain = FindRestoreChain(settings, request.database, date, reason);
  if (!chain) {
    err << "MvxRazuRarevi -restore: " << reason << "; nothing to restore\n";
    return 2;
  }
  request.chain = std::move(*chain);

  out << "Restore of " << request.database << " as it was on " << date;
  if (request.target != request.database) out << ", as " << request.target;
  out << "\n  full backup:         " << request.chain.FullPath() << "\n  differential backup: "
      << (request.chain.differential.empty() ? "none (the full backup alone)"
                                             : request.chain.DifferentialPath())
      << "\n";
  if (!words->Flag("--run")) {
    ShowPlan(request, out);
    return 0;
  }

  SqlConnection connection;
  SqlQuery query(connection);
  std::string connectError;
  if (!ConnectToMaster(connection, settings, options.databasePort, connectError)) {
    err << "MvxRazuRarevi -restore: " << connectError << "\n";
    return 1;
  }
  const RestoreOutcome outcome = RestoreOnServer(query, request, [&](std::string_view line) {
    out << "  " << line << "\n" << std::flush;
  });
  connection.Close();
  switch (outcome.status) {
    case RestoreStatus::kRestored:
      out << "Restored " << request.target << ".\n";
      return 0;
    case RestoreStatus::kTargetExists:
      err << "MvxRazuRarevi -restore: " << outcome.reason << " on the server; nothing was "
          << "restored. Add --replace to restore over it, or --as NEWNAME to restore next to it.\n";
      return 2;
    case RestoreStatus::kRefused:
      err << "MvxRazuRarevi -restore: these files are no restore of " << request.database << ": "
          << outcome.reason << "; nothing was restored.\n";
      return 2;
    case RestoreStatus::kFailed:
      break;
  }
  err << "MvxRazuRarevi -restore: " << outcome.reason << "\n";
  return 1;
}

}  // namespace mvx
