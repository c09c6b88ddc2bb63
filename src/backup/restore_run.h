#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "backup/restore_chain.h"
#include "backup/restore_statements.h"
#include "db/sql_connection.h"

namespace mvx {

// What RESTORE HEADERONLY says about the (first) backup set of a file.
struct BackupHeader {
  std::string databaseName;
  long long backupType = 0;  // 1 database, 5 differential
  std::string backupSetGuid;
  std::string differentialBaseGuid;
};

// Why the headers of a chain do not make one restore of `database`; empty
// when they do. `differential` is null for a chain of the full alone.
std::string ChainMismatch(std::string_view database, const BackupHeader& full,
                          const BackupHeader* differential);

struct RestoreRequest {
  std::string database;  // whose backups the chain holds
  std::string target;    // the database restored; `database` unless moved
  RestoreChain chain;
  bool moveFiles = false;  // into the server's default folders, named after the target
  bool replace = false;    // over an existing database
};

// The RESTORE DATABASE statements of a request, without the moves (they
// need the server's file list).
std::vector<std::string> RestoreStatements(const RestoreRequest& request,
                                           const std::vector<RestoreMove>& moves = {});

enum class RestoreStatus {
  kRestored,
  kTargetExists,  // refused: the target exists and `replace` was not given
  kRefused,       // the files do not make a chain of the database
  kFailed,
};

struct RestoreOutcome {
  RestoreStatus status = RestoreStatus::kFailed;
  std::string reason;
};

// One line for the operator.
using RestoreSay = std::function<void(std::string_view line)>;

// Whether the server has a database of that name, the query said first; nullopt with the
// reason when the server cannot list its databases.
std::optional<bool> DatabaseOnServer(SqlQuery& query, std::string_view name, const RestoreSay& say,
                                     std::string& reason);

// Checks the target and every file's header, then restores the chain, on the
// connection (whose current database must not be the target). Every
// statement goes to `say` before it is sent, the server's progress after it.
// Nothing is restored unless every check passes. Never throws.
RestoreOutcome RestoreOnServer(SqlQuery& query, const RestoreRequest& request,
                               const RestoreSay& say);

}  // namespace mvx
