#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace mvx {

// The texts of a restore. Restored databases are always named in brackets,
// as the BACKUP target is; quotes inside N'...' texts are doubled.

std::string RestoreHeaderStatement(std::string_view file);    // RESTORE HEADERONLY
std::string RestoreFileListStatement(std::string_view file);  // RESTORE FILELISTONLY

// One file of a backup as RESTORE FILELISTONLY lists it.
struct BackupFileEntry {
  std::string logicalName;
  std::string type;  // "D" data, "L" log, others (full-text, FILESTREAM) held like data
};

struct RestoreMove {
  std::string logicalName;
  std::string physicalName;
};

// Where the files of a backup go when it is restored under `newName`: the
// first data file to "<newName>.mdf", further ones to "<newName>_2.ndf",
// "_3.ndf", ... in the list's order, log files to "<newName>_log.ldf",
// "_log2.ldf", ..., each in its default folder.
std::vector<RestoreMove> PlanRestoreMoves(const std::vector<BackupFileEntry>& files,
                                          std::string_view newName, std::string_view dataFolder,
                                          std::string_view logFolder);

// RESTORE DATABASE of one file of a chain: "WITH NORECOVERY" while more
// files follow, "WITH RECOVERY" for the last, then the moves and REPLACE.
std::string RestoreDatabaseStatement(std::string_view target, std::string_view file,
                                     bool lastOfChain, const std::vector<RestoreMove>& moves = {},
                                     bool replace = false);

// One row (name) when the database exists.
std::string DatabaseExistsQuery(std::string_view name);
std::string CheckDatabaseStatement(std::string_view name);  // DBCC CHECKDB, errors only
std::string DropDatabaseStatement(std::string_view name);

// The server's default folders for new data and log files (DataPath, LogPath).
inline constexpr std::string_view kDefaultFoldersQuery =
    "select cast(SERVERPROPERTY('InstanceDefaultDataPath') as nvarchar(4000)) as DataPath, "
    "cast(SERVERPROPERTY('InstanceDefaultLogPath') as nvarchar(4000)) as LogPath";

}  // namespace mvx
