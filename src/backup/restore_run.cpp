#include "backup/restore_run.h"

#include <algorithm>
#include <exception>
#include <map>
#include <optional>
#include <utility>

#include "backup/restore_statements.h"
#include "common/text_util.h"
#include "db/query_helpers.h"

namespace mvx {
namespace {

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

// A short query's first column of its first row; nullopt when it fails or answers nothing.
std::optional<std::string> ShortValue(SqlQuery& query, std::string_view sql,
                                      const RestoreSay& say) {
  say(sql);
  query.SetTimeLimit(SqlConnection::kShortStatementLimit);
  const std::optional<std::string> error = OpenRows(query, sql);
  query.SetTimeLimit(std::chrono::seconds(0));
  if (error) return std::nullopt;
  std::optional<std::string> value;
  if (!query.Eof()) value = query.FieldText(0);
  query.Close();
  return value;
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

// A column a header may lack (older servers, other tools): empty then.
std::string OptionalText(const SqlQuery& query, std::string_view column) {
  return query.HasField(column) ? query.FieldText(column) : std::string();
}

// The header of the first backup set in a file; nullopt with the reason.
std::optional<BackupHeader> ReadHeader(SqlQuery& query, const std::string& file,
                                       const RestoreSay& say, std::string& reason) {
  const std::string statement = RestoreHeaderStatement(file);
  say(statement);
  if (const std::optional<std::string> error = OpenRows(query, statement)) {
    reason = "the server cannot read it: " + *error;
    return std::nullopt;
  }
  if (query.Eof()) {
    query.Close();
    reason = "it holds no backup set";
    return std::nullopt;
  }
  BackupHeader header;
  try {
    header.databaseName = query.FieldText("DatabaseName");
    header.backupType = query.FieldInt("BackupType");
    header.backupSetGuid = query.FieldText("BackupSetGUID");
    header.differentialBaseGuid = query.FieldText("DifferentialBaseGUID");
    header.serverName = OptionalText(query, "ServerName");
    header.backupStartDate = OptionalText(query, "BackupStartDate");
    header.backupFinishDate = OptionalText(query, "BackupFinishDate");
    header.firstLsn = OptionalText(query, "FirstLSN");
    header.lastLsn = OptionalText(query, "LastLSN");
  } catch (const std::exception& error) {
    query.Close();
    reason = std::string("its header is incomplete: ") + error.what();
    return std::nullopt;
  }
  query.Close();
  return header;
}

// The files one backup restores, as RESTORE FILELISTONLY lists them.
std::optional<std::vector<BackupFileEntry>> ReadFileList(SqlQuery& query, const std::string& file,
                                                         const RestoreSay& say,
                                                         std::string& reason) {
  const std::string fileList = RestoreFileListStatement(file);
  say(fileList);
  if (const std::optional<std::string> error = OpenRows(query, fileList)) {
    reason = "the server cannot list the files of " + file + ": " + *error;
    return std::nullopt;
  }
  std::vector<BackupFileEntry> files;
  try {
    for (; !query.Eof(); query.Next()) {
      const long long size = query.HasField("Size") ? query.FieldInt("Size") : 0;
      files.push_back({query.FieldText("LogicalName"), query.FieldText("Type"),
                       size > 0 ? static_cast<unsigned long long>(size) : 0});
    }
  } catch (const std::exception& error) {
    query.Close();
    reason = std::string("the file list is incomplete: ") + error.what();
    return std::nullopt;
  }
  query.Close();
  // Restored without moves, the files would go where the backup's database has them.
  if (files.empty()) {
    reason = "the server lists no files in " + file;
    return std::nullopt;
  }
  return files;
}

// The folder part of a server path ("D:\Data\master.mdf" -> "D:\Data\").
std::string FolderOf(const std::string& path) {
  const std::size_t cut = path.find_last_of("/\\");
  return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

struct PlannedMoves {
  ChainMoves chain;
  std::map<std::string, unsigned long long> bytesPerFolder;  // of the restored copy
};

// Each file of the chain to its folder, named after the target. A file a later backup adds
// (created after the full) gets the next free name; files several hold keep one name. Each
// backup's statement moves the files of its own list: a log backup may add a file too.
std::optional<PlannedMoves> PlanMoves(SqlQuery& query, const RestoreRequest& request,
                                      const RestoreChain& chain, const RestoreSay& say,
                                      std::string& reason) {
  std::vector<std::string> backups = {chain.full};
  if (!chain.differential.empty()) backups.push_back(chain.differential);
  backups.insert(backups.end(), chain.logs.begin(), chain.logs.end());
  std::vector<std::vector<BackupFileEntry>> lists;
  for (const std::string& backup : backups) {
    std::optional<std::vector<BackupFileEntry>> listed =
        ReadFileList(query, chain.PathOf(backup), say, reason);
    if (!listed) return std::nullopt;
    lists.push_back(std::move(*listed));
  }
  const std::optional<RestoreFolders> folders = TargetFolders(query, request, say, reason);
  if (!folders) return std::nullopt;

  std::vector<BackupFileEntry> all;
  for (const std::vector<BackupFileEntry>& list : lists) {
    for (const BackupFileEntry& file : list) {
      bool known = false;
      for (const BackupFileEntry& held : all)
        known = known || EqualsNoCase(held.logicalName, file.logicalName);
      if (!known) all.push_back(file);
    }
  }
  const std::vector<RestoreMove> moves =
      PlanRestoreMoves(all, request.target, folders->data, folders->log);
  auto movesOf = [&](const std::vector<BackupFileEntry>& list) {
    std::vector<RestoreMove> own;
    for (const BackupFileEntry& file : list) {
      for (const RestoreMove& move : moves) {
        if (EqualsNoCase(move.logicalName, file.logicalName)) {
          own.push_back(move);
          break;
        }
      }
    }
    return own;
  };
  PlannedMoves planned;
  std::size_t next = 0;
  planned.chain.full = movesOf(lists[next++]);
  if (!chain.differential.empty()) planned.chain.differential = movesOf(lists[next++]);
  while (next < lists.size()) planned.chain.logs.push_back(movesOf(lists[next++]));
  // The copy takes the sizes of the last backup restored.
  for (const BackupFileEntry& file : lists.back()) {
    for (const RestoreMove& move : moves) {
      if (!EqualsNoCase(move.logicalName, file.logicalName)) continue;
      // Sizes come from a file: a sum that would overflow stays at a bound no disk has.
      constexpr unsigned long long kBound = 1ULL << 60;
      unsigned long long& bytes = planned.bytesPerFolder[FolderOf(move.physicalName)];
      bytes = std::min(kBound, bytes + std::min(kBound, file.size));
      break;
    }
  }
  return planned;
}

// Refuses a restore whose files would not fit, by the free space this machine sees; folders
// on one disk share its free space.
bool RoomFor(const PlannedMoves& planned, const VisibleFreeSpace& freeSpace, std::string& reason) {
  constexpr unsigned long long kMegabyte = 1048576;
  constexpr unsigned long long kBound = 1ULL << 60;
  struct Disk {
    std::string identity;
    std::string folders;
    std::uint64_t free = 0;
    unsigned long long bytes = 0;
  };
  std::vector<Disk> disks;
  for (const auto& [folder, bytes] : planned.bytesPerFolder) {
    const std::optional<VisibleDisk> seen = freeSpace(folder);
    if (!seen) continue;
    const auto disk = std::find_if(disks.begin(), disks.end(), [&](const Disk& known) {
      return !seen->identity.empty() && known.identity == seen->identity;
    });
    if (disk == disks.end()) {
      disks.push_back({seen->identity, folder, seen->free, bytes});
    } else {
      disk->folders += " and " + folder;
      disk->bytes = std::min(kBound, disk->bytes + bytes);
    }
  }
  for (const Disk& disk : disks) {
    const unsigned long long needed = disk.bytes + disk.bytes / 10;
    if (disk.free >= needed) continue;
    reason = "not enough free space in " + disk.folders + ": " +
             std::to_string(disk.free / kMegabyte) + " MB free, " +
             std::to_string((needed + kMegabyte - 1) / kMegabyte) + " MB needed (the copy's " +
             std::to_string((disk.bytes + kMegabyte - 1) / kMegabyte) + " MB plus 10%)";
    return false;
  }
  return true;
}

// Notes what the headers say that the operator should know but that refuses
// nothing: files skipped, a differential of an outside full, another server.
void SayNotes(SqlQuery& query, const HeaderChainChoice& choice, const RestoreSay& say) {
  for (const std::string& skipped : choice.skipped) say("skipped " + skipped);
  if (!choice.outsideBaseGuid.empty()) {
    const std::optional<std::string> started =
        ShortValue(query, BackupSetStartQuery(choice.outsideBaseGuid), say);
    say("note: the newest differential belongs to a full backup taken outside this agent" +
        (started && !started->empty() ? " on " + *started : std::string()));
  }
  const RestoreChain& chain = *choice.chain;
  std::vector<std::pair<std::string, const BackupHeader*>> files = {
      {chain.full, &chain.fullHeader}};
  if (!chain.differential.empty()) files.push_back({chain.differential, &chain.differentialHeader});
  bool named = false;
  for (const auto& [name, header] : files) named = named || !header->serverName.empty();
  if (!named) return;
  const std::optional<std::string> server = ShortValue(query, kServerNameQuery, say);
  if (!server) return;
  for (const auto& [name, header] : files) {
    if (!header->serverName.empty() && !EqualsNoCase(header->serverName, *server)) {
      say("note: " + name + " was taken on " + header->serverName + ", this server is " + *server);
    }
  }
}

// The log backups that continue the chain, from the folder, in the order they were taken.
bool AddLogBackups(SqlQuery& query, const RestoreRequest& request, BackupFolderListing& listing,
                   RestoreChain& chain, const RestoreSay& say, RestoreOutcome& outcome) {
  const std::optional<BackupFileNameParts> base =
      ParseBackupFileName(chain.differential.empty() ? chain.full : chain.differential);
  // A moment ends the logs itself (the log holding it may start the next day); a day ends them
  // with its own: the state as it was on that day, never a later one.
  const std::vector<std::string> names =
      DatedLogBackups(listing, request.database, base ? base->stamp : std::string(),
                      request.moment.empty() ? request.untilStamp : std::string());
  const LogChainOutcome logs = ExtendWithLogBackups(
      chain, names,
      [&](const std::string& path, std::string& reason) {
        return ReadHeader(query, path, say, reason);
      },
      request.moment);
  for (const std::string& skipped : logs.skipped) say("skipped " + skipped);
  if (!logs.refused.empty()) {
    outcome.status = RestoreStatus::kRefused;
    outcome.reason = logs.refused;
    return false;
  }
  if (!request.moment.empty() && !logs.reachedMoment) {
    const BackupHeader& newest = !chain.logHeaders.empty()    ? chain.logHeaders.back()
                                 : chain.differential.empty() ? chain.fullHeader
                                                              : chain.differentialHeader;
    outcome.minutesMissing = std::max(0LL, MinutesBetween(newest.backupFinishDate, request.moment));
    say("note: no log backup reaches " + request.moment + "; the restore ends with the newest, " +
        (newest.backupFinishDate.empty()
             ? std::string("whose header does not say when it finished")
             : std::to_string(outcome.minutesMissing) + " minutes before it"));
  }
  return true;
}

}  // namespace

std::vector<std::string> RestoreStatements(const RestoreRequest& request, const RestoreChain& chain,
                                           const ChainMoves& moves) {
  const bool alone = chain.differential.empty() && chain.logs.empty();
  std::vector<std::string> statements = {RestoreDatabaseStatement(
      request.target, chain.FullPath(), alone, moves.full, request.replace)};
  if (!chain.differential.empty()) {
    statements.push_back(RestoreDatabaseStatement(request.target, chain.DifferentialPath(),
                                                  chain.logs.empty(), moves.differential));
  }
  static const std::vector<RestoreMove> kNone;
  for (std::size_t i = 0; i < chain.logs.size(); ++i) {
    const bool last = i + 1 == chain.logs.size();
    statements.push_back(RestoreLogStatement(request.target, chain.PathOf(chain.logs[i]), last,
                                             last ? chain.stopAt : "",
                                             i < moves.logs.size() ? moves.logs[i] : kNone));
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

std::optional<RestoreFolders> TargetFolders(SqlQuery& query, const RestoreRequest& request,
                                            const RestoreSay& say, std::string& reason) {
  RestoreFolders folders{request.dataDir, request.logDir};
  if (!folders.data.empty() && !folders.log.empty()) return folders;
  say(kDefaultFoldersQuery);
  if (const std::optional<std::string> error = OpenRows(query, kDefaultFoldersQuery)) {
    reason = "the server does not name its default folders: " + *error;
    return std::nullopt;
  }
  std::string data = query.Eof() ? "" : query.FieldText(0);
  std::string log = query.Eof() ? "" : query.FieldText(1);
  query.Close();
  // Servers before the 2012 updates leave the properties NULL; master's own
  // files sit in the folders chosen at setup.
  if (data.empty() || log.empty()) {
    say(kMasterFilesQuery);
    if (const std::optional<std::string> error = OpenRows(query, kMasterFilesQuery)) {
      reason = "the server names neither its default folders nor master's files: " + *error;
      return std::nullopt;
    }
    for (; !query.Eof(); query.Next()) {
      std::string& folder = query.FieldInt(0) == 1 ? log : data;
      if (folder.empty()) folder = FolderOf(query.FieldText(1));
    }
    query.Close();
  }
  if (folders.data.empty()) folders.data = data;
  if (folders.log.empty()) folders.log = log;
  if (folders.data.empty() || folders.log.empty()) {
    reason = "the server does not name its default data and log folders";
    return std::nullopt;
  }
  return folders;
}

std::optional<std::vector<std::string>> DatabaseFiles(SqlQuery& query, std::string_view name,
                                                      const RestoreSay& say, std::string& reason) {
  const std::string sql = DatabaseFilesQuery(name);
  say(sql);
  if (const std::optional<std::string> error = OpenRows(query, sql)) {
    reason = "the server cannot list the files of " + std::string(name) + ": " + *error;
    return std::nullopt;
  }
  std::vector<std::string> files;
  for (; !query.Eof(); query.Next()) files.push_back(query.FieldText(0));
  query.Close();
  return files;
}

RestoreOutcome RestoreOnServer(SqlQuery& query, const RestoreRequest& request,
                               const RestoreSay& say) {
  RestoreOutcome outcome;
  if (request.send) {
    const std::optional<bool> targetExists =
        DatabaseOnServer(query, request.target, say, outcome.reason);
    if (!targetExists) return outcome;
    if (*targetExists && !request.replace) {
      outcome.status = RestoreStatus::kTargetExists;
      outcome.reason = "database " + request.target + " exists";
      return outcome;
    }
  }

  HeaderChainChoice choice;
  std::optional<BackupFolderListing> listing;
  try {
    listing = BackupFolderListing::Read(request.folder);
    choice = ChooseChainByHeaders(
        *listing, request.database, request.untilStamp,
        [&](const std::string& path, std::string& reason) {
          return ReadHeader(query, path, say, reason);
        },
        request.moment);
  } catch (const std::exception& error) {
    outcome.reason = error.what();
    return outcome;
  }
  if (!choice.chain) {
    for (const std::string& skipped : choice.skipped) say("skipped " + skipped);
    outcome.status = RestoreStatus::kRefused;
    outcome.reason = choice.reason;
    return outcome;
  }
  SayNotes(query, choice, say);
  RestoreChain& chain = *choice.chain;
  if (!AddLogBackups(query, request, *listing, chain, say, outcome)) return outcome;
  outcome.chain = chain;

  PlannedMoves moves;
  if (request.moveFiles) {
    std::optional<PlannedMoves> planned = PlanMoves(query, request, chain, say, outcome.reason);
    if (!planned) return outcome;
    moves = std::move(*planned);
    if (request.freeSpace && !RoomFor(moves, request.freeSpace, outcome.reason)) return outcome;
  }
  outcome.statements = RestoreStatements(request, chain, moves.chain);
  if (!request.send) {
    outcome.status = RestoreStatus::kRestored;
    return outcome;
  }
  for (const std::string& statement : outcome.statements) {
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
