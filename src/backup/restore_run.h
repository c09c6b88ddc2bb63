#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "backup/restore_chain.h"
#include "backup/restore_statements.h"
#include "db/sql_connection.h"

namespace mvx {

// The disk of a folder as this machine sees it; nullopt when it does not see it.
struct VisibleDisk {
  std::uint64_t free = 0;  // bytes
  // Two folders with the same identity are on one disk, whose free space they share.
  std::string identity;
};
using VisibleFreeSpace = std::function<std::optional<VisibleDisk>(std::string_view folder)>;

struct RestoreRequest {
  std::string database;    // whose backups the chain holds
  std::string target;      // the database restored; `database` unless moved
  std::string folder;      // the backup folder, as BKPath holds it
  std::string untilStamp;  // yyyymmdd: the chain as it was on that day
  bool moveFiles = false;  // named after the target, into the folders below
  std::string dataDir;     // empty: the server's default data folder
  std::string logDir;      // empty: the server's default log folder
  bool replace = false;    // over an existing database
  std::string moment;      // "yyyy-mm-dd hh:mm:ss": restore to it; empty: to the newest state
  bool send = true;        // false: read what is needed, restore nothing
  // Set: the restore is refused unless the target folders have the copy's
  // size plus a tenth free (folders this machine does not see are not judged).
  VisibleFreeSpace freeSpace;
};

// Where the files of each backup of a chain go, from the backup's own file list; empty: where
// the backup says.
struct ChainMoves {
  std::vector<RestoreMove> full;
  std::vector<RestoreMove> differential;
  std::vector<std::vector<RestoreMove>> logs;  // one per log backup of the chain
};

// The RESTORE statements of a chain.
std::vector<std::string> RestoreStatements(const RestoreRequest& request, const RestoreChain& chain,
                                           const ChainMoves& moves = {});

enum class RestoreStatus {
  kRestored,      // or, without `send`, ready to restore: the statements are in the outcome
  kTargetExists,  // refused: the target exists and `replace` was not given
  kRefused,       // the folder holds no chain of the database
  kFailed,
};

struct RestoreOutcome {
  RestoreStatus status = RestoreStatus::kFailed;
  std::string reason;
  std::optional<RestoreChain> chain;    // once chosen
  long long minutesMissing = 0;         // the moment lies this far after the newest log backup
  std::vector<std::string> statements;  // the RESTORE statements, sent or not
};

// One line for the operator.
using RestoreSay = std::function<void(std::string_view line)>;

// Whether the server has a database of that name, the query said first; nullopt with the
// reason when the server cannot list its databases.
std::optional<bool> DatabaseOnServer(SqlQuery& query, std::string_view name, const RestoreSay& say,
                                     std::string& reason);

// The folders restored files go to: the request's, else the server's
// defaults, else the folders of master's own files. Nullopt with the reason.
struct RestoreFolders {
  std::string data;
  std::string log;
};
std::optional<RestoreFolders> TargetFolders(SqlQuery& query, const RestoreRequest& request,
                                            const RestoreSay& say, std::string& reason);

// The physical names of a database's files; nullopt with the reason.
std::optional<std::vector<std::string>> DatabaseFiles(SqlQuery& query, std::string_view name,
                                                      const RestoreSay& say, std::string& reason);

// Checks the target, chooses the chain by the files' headers, then restores
// it, on the connection (whose current database must not be the target).
// Every statement goes to `say` before it is sent, the server's progress and
// each skipped file after it. Nothing is restored unless every check passes.
// Never throws.
RestoreOutcome RestoreOnServer(SqlQuery& query, const RestoreRequest& request,
                               const RestoreSay& say);

}  // namespace mvx
