#include "backup/restore_run.h"

#include <exception>
#include <optional>

#include "backup/restore_statements.h"
#include "common/text_util.h"
#include "db/query_helpers.h"

namespace mvx {
namespace {

constexpr long long kFullBackupType = 1;
constexpr long long kDifferentialBackupType = 5;
constexpr std::string_view kPercentProcessed = " percent processed.";

// Runs a query that answers rows; the server's message when it fails.
std::optional<std::string> OpenRows(SqlQuery& query, std::string_view sql) {
  try {
    OpenQuery(query, sql);
    return std::nullopt;
  } catch (const std::exception& error) {
    query.Close();
    return std::string(error.what());
  }
}

// The server's messages of the last statement in their order, its "N percent
// processed." ones gathered into one progress line where the first stood.
void SayMessages(const SqlQuery& query, const RestoreSay& say) {
  std::vector<std::string> lines;
  std::size_t progress = 0;  // index of the progress line + 1; 0: none yet
  for (const std::string& message : query.Messages()) {
    const bool percent = message.size() > kPercentProcessed.size() &&
                         message.compare(message.size() - kPercentProcessed.size(),
                                         kPercentProcessed.size(), kPercentProcessed) == 0;
    if (!percent) {
      lines.push_back("  " + message);
      continue;
    }
    if (progress == 0) {
      lines.push_back("  progress:");
      progress = lines.size();
    }
    lines[progress - 1] += " " + message.substr(0, message.size() - kPercentProcessed.size()) + "%";
  }
  for (const std::string& line : lines) say(line);
}

// The header of the first backup set in a file; nullopt with the reason.
std::optional<BackupHeader> ReadHeader(SqlQuery& query, const std::string& file,
                                       const RestoreSay& say, std::string& reason) {
  const std::string statement = RestoreHeaderStatement(file);
  say(statement);
  if (const std::optional<std::string> error = OpenRows(query, statement)) {
    reason = "the server cannot read " + file + ": " + *error;
    return std::nullopt;
  }
  if (query.Eof()) {
    query.Close();
    reason = file + " holds no backup set";
    return std::nullopt;
  }
  BackupHeader header;
  try {
    header.databaseName = query.FieldText("DatabaseName");
    header.backupType = query.FieldInt("BackupType");
    header.backupSetGuid = query.FieldText("BackupSetGUID");
    header.differentialBaseGuid = query.FieldText("DifferentialBaseGUID");
  } catch (const std::exception& error) {
    query.Close();
    reason = "the header of " + file + " is incomplete: " + error.what();
    return std::nullopt;
  }
  query.Close();
  return header;
}

std::string Describe(const BackupHeader& header) {
  return "a backup of type " + std::to_string(header.backupType) + " of " + header.databaseName;
}

// The moves of every file of the full backup into the server's default folders.
std::optional<std::vector<RestoreMove>> PlanMoves(SqlQuery& query, const RestoreRequest& request,
                                                  const RestoreSay& say, std::string& reason) {
  const std::string fileList = RestoreFileListStatement(request.chain.FullPath());
  say(fileList);
  std::vector<BackupFileEntry> files;
  if (const std::optional<std::string> error = OpenRows(query, fileList)) {
    reason = "the server cannot list the files of " + request.chain.FullPath() + ": " + *error;
    return std::nullopt;
  }
  try {
    for (; !query.Eof(); query.Next()) {
      files.push_back({query.FieldText("LogicalName"), query.FieldText("Type")});
    }
  } catch (const std::exception& error) {
    query.Close();
    reason = std::string("the file list is incomplete: ") + error.what();
    return std::nullopt;
  }
  query.Close();
  say(kDefaultFoldersQuery);
  if (const std::optional<std::string> error = OpenRows(query, kDefaultFoldersQuery)) {
    reason = "the server does not name its default folders: " + *error;
    return std::nullopt;
  }
  const std::string dataFolder = query.Eof() ? "" : query.FieldText(0);
  const std::string logFolder = query.Eof() ? "" : query.FieldText(1);
  query.Close();
  if (dataFolder.empty() || logFolder.empty()) {
    reason = "the server does not name its default data and log folders";
    return std::nullopt;
  }
  return PlanRestoreMoves(files, request.target, dataFolder, logFolder);
}

}  // namespace

std::string ChainMismatch(std::string_view database, const BackupHeader& full,
                          const BackupHeader* differential) {
  auto ofDatabase = [&](const BackupHeader& header, long long type) {
    return EqualsNoCase(header.databaseName, database) && header.backupType == type;
  };
  const std::string wanted(database);
  if (!ofDatabase(full, kFullBackupType)) {
    return "the full file holds " + Describe(full) + ", not a full backup (type 1) of " + wanted;
  }
  if (differential == nullptr) return {};
  if (!ofDatabase(*differential, kDifferentialBackupType)) {
    return "the differential file holds " + Describe(*differential) +
           ", not a differential backup (type 5) of " + wanted;
  }
  if (full.backupSetGuid.empty() ||
      !EqualsNoCase(differential->differentialBaseGuid, full.backupSetGuid)) {
    return "the differential belongs to another full backup (its base " +
           differential->differentialBaseGuid + ", the full file's set " + full.backupSetGuid + ")";
  }
  return {};
}

std::vector<std::string> RestoreStatements(const RestoreRequest& request,
                                           const std::vector<RestoreMove>& moves) {
  const RestoreChain& chain = request.chain;
  const bool alone = chain.differential.empty();
  std::vector<std::string> statements = {
      RestoreDatabaseStatement(request.target, chain.FullPath(), alone, moves, request.replace)};
  if (!alone) {
    statements.push_back(RestoreDatabaseStatement(request.target, chain.DifferentialPath(), true));
  }
  return statements;
}

std::optional<bool> DatabaseOnServer(SqlQuery& query, std::string_view name, const RestoreSay& say,
                                     std::string& reason) {
  const std::string exists = DatabaseExistsQuery(name);
  say(exists);
  if (const std::optional<std::string> error = OpenRows(query, exists)) {
    reason = "the server cannot list its databases: " + *error;
    return std::nullopt;
  }
  const bool found = !query.Eof();
  query.Close();
  return found;
}

RestoreOutcome RestoreOnServer(SqlQuery& query, const RestoreRequest& request,
                               const RestoreSay& say) {
  RestoreOutcome outcome;
  const std::optional<bool> targetExists =
      DatabaseOnServer(query, request.target, say, outcome.reason);
  if (!targetExists) return outcome;
  if (*targetExists && !request.replace) {
    outcome.status = RestoreStatus::kTargetExists;
    outcome.reason = "database " + request.target + " exists";
    return outcome;
  }

  const std::optional<BackupHeader> full =
      ReadHeader(query, request.chain.FullPath(), say, outcome.reason);
  if (!full) return outcome;
  std::optional<BackupHeader> differential;
  if (!request.chain.differential.empty()) {
    differential = ReadHeader(query, request.chain.DifferentialPath(), say, outcome.reason);
    if (!differential) return outcome;
  }
  outcome.reason = ChainMismatch(request.database, *full, differential ? &*differential : nullptr);
  if (!outcome.reason.empty()) {
    outcome.status = RestoreStatus::kRefused;
    return outcome;
  }

  std::vector<RestoreMove> moves;
  if (request.moveFiles) {
    std::optional<std::vector<RestoreMove>> planned =
        PlanMoves(query, request, say, outcome.reason);
    if (!planned) return outcome;
    moves = std::move(*planned);
  }
  for (const std::string& statement : RestoreStatements(request, moves)) {
    say(statement);
    const StatementOutcome result = RunStatement(query, statement);
    SayMessages(query, say);
    if (!result.succeeded) {
      outcome.reason = "the server refused the restore: " + result.error;
      return outcome;
    }
  }
  outcome.status = RestoreStatus::kRestored;
  return outcome;
}

}  // namespace mvx
