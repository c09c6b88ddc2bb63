#include <cctype>
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
    "usage: MvxRazuRarevi -restore DB [--date YYYY-MM-DD | --at \"YYYY-MM-DD HH:MM[:SS]\"] "
    "[--as NEWNAME] [--data-dir DIR] [--log-dir DIR] [--replace] [--run] [--ini PATH]\n",
    {"--replace", "--run"},
    {"--ini", "--date", "--at", "--as", "--data-dir", "--log-dir"},
    1};

int UsageError(std::string_view reason, std::ostream& err) {
  ReportUsageError(kRestoreGrammar, reason, err);
  return 2;
}

// "YYYY-MM-DD HH:MM[:SS]" as "YYYY-MM-DD HH:MM:SS"; nullopt for any other text.
std::optional<std::string> ParseMoment(const std::string& text) {
  auto twoDigits = [&](std::size_t at, int most) {
    return text.size() >= at + 2 && std::isdigit(static_cast<unsigned char>(text[at])) &&
           std::isdigit(static_cast<unsigned char>(text[at + 1])) &&
           (text[at] - '0') * 10 + (text[at + 1] - '0') <= most;
  };
  const bool withSeconds = text.size() == 19;
  if ((text.size() != 16 && !withSeconds) || !ParseDateText(text.substr(0, 10)) ||
      text[10] != ' ' || !twoDigits(11, 23) || text[13] != ':' || !twoDigits(14, 59) ||
      (withSeconds && (text[16] != ':' || !twoDigits(17, 59)))) {
    return std::nullopt;
  }
  return withSeconds ? text : text + ":00";
}

void ShowChain(const RestoreChain& chain, std::ostream& out) {
  out << "  full backup:         " << chain.FullPath() << "\n  differential backup: "
      << (chain.differential.empty() ? "none (the full backup alone)" : chain.DifferentialPath())
      << "\n";
  for (const std::string& log : chain.logs)
    out << "  log backup:          " << chain.PathOf(log) << "\n";
  if (!chain.stopAt.empty()) out << "  stopping at:         " << chain.stopAt << "\n";
}

void ShowPlan(const RestoreRequest& request, const RestoreOutcome& outcome, std::ostream& out) {
  out << "Statements (nothing is sent without --run):\n";
  for (const std::string& statement : outcome.statements) out << "  " << statement << "\n";
  if (!request.replace) {
    out << "Restoring over an existing " << request.target << " needs --replace.\n";
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
  const std::optional<std::string> atWord = words->Value("--at");
  const std::optional<std::string> moment = atWord ? ParseMoment(*atWord) : std::nullopt;
  if (atWord && !moment) {
    return UsageError("--at takes a moment as \"YYYY-MM-DD HH:MM[:SS]\", not " + *atWord, err);
  }
  if (atWord && dateWord) return UsageError("--date and --at exclude each other", err);
  const std::optional<OperatorSettings> loaded =
      LoadRestoreSettings(options, words->Value("--ini"), err);
  if (!loaded) return 1;
  const Settings& settings = loaded->settings;

  RestoreRequest request;
  request.database = words->names[0];
  request.target = asName.value_or(request.database);
  request.dataDir = words->Value("--data-dir").value_or("");
  request.logDir = words->Value("--log-dir").value_or("");
  // Under its own name a database keeps the backup's paths unless folders
  // are named (a new server with other drives).
  request.moveFiles = (asName && !EqualsNoCase(*asName, request.database)) ||
                      !request.dataDir.empty() || !request.logDir.empty();
  request.replace = words->Flag("--replace");
  request.send = words->Flag("--run");
  request.folder = settings.bkPath;
  request.moment = moment.value_or("");
  const std::string date =
      moment ? moment->substr(0, 10) : dateWord.value_or(FormatDate(clock.Now()));
  request.untilStamp = DateStamp(date);
  std::string reason;
  const std::optional<RestoreChain> named =
      FindRestoreChain(settings, request.database, date, reason);
  if (!named) {
    err << "MvxRazuRarevi -restore: " << reason << "; nothing to restore\n";
    return 2;
  }

  out << "Restore of " << request.database << " as it was "
      << (moment ? "at " + *moment : "on " + date);
  if (request.target != request.database) out << ", as " << request.target;
  out << "\n";
  SqlConnection connection;
  SqlQuery query(connection);
  std::string connectError;
  if (!ConnectToMaster(connection, settings, options.databasePort, connectError)) {
    if (!request.send) {
      out << "By the file names (headers not read):\n";
      ShowChain(*named, out);
    }
    err << "MvxRazuRarevi -restore: " << connectError << "\n";
    return 1;
  }
  out << "Headers (RESTORE HEADERONLY and FILELISTONLY change nothing):\n";
  const RestoreOutcome outcome = RestoreOnServer(query, request, [&](std::string_view line) {
    out << "  " << line << "\n" << std::flush;
  });
  connection.Close();
  if (outcome.chain) {
    out << "Chain:\n";
    ShowChain(*outcome.chain, out);
  }
  switch (outcome.status) {
    case RestoreStatus::kRestored:
      if (!request.send) {
        ShowPlan(request, outcome, out);
        return 0;
      }
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
