#include <ostream>

#include "backup/restore_run.h"
#include "common/date_text.h"
#include "common/text_util.h"
#include "service/operator_command.h"
#include "service/restore_support.h"

namespace mvx {
namespace {

constexpr std::string_view kUsage =
    "usage: MvxRazuRarevi -restore DB [--date YYYY-MM-DD] [--as NEWNAME] [--replace] [--run] "
    "[--ini PATH]\n";

int UsageError(std::ostream& err) {
  err << kUsage;
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
  CommandWords words;
  if (!SplitCommandWords(args, {"--ini", "--date", "--as", "--replace", "--run"}, words, err)) {
    return UsageError(err);
  }
  if (words.positional.size() != 1 || words.positional[0].empty()) {
    err << "name one database to restore\n";
    return UsageError(err);
  }
  if (words.date && !ParseDateText(*words.date)) {
    err << "--date takes a date as YYYY-MM-DD, not " << *words.date << "\n";
    return UsageError(err);
  }
  Settings settings;
  if (!LoadCommandSettings(words.ini.value_or(options.exeDir + "RazuRarevi.ini"), settings, err)) {
    return 1;
  }

  RestoreRequest request;
  request.database = words.positional[0];
  request.target = words.as.value_or(request.database);
  request.moveFiles = words.as && !EqualsNoCase(*words.as, request.database);
  request.replace = words.replace;
  const std::string date = words.date.value_or(FormatDate(clock.Now()));
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
  if (!words.run) {
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
