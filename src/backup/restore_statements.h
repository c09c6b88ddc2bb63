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
  std::string type;             // "D" data, "L" log, others (full-text, FILESTREAM) held like data
  unsigned long long size = 0;  // bytes the file takes when restored
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

// Whether `physicalName` is a name PlanRestoreMoves gives a file of `newName`
// in those folders (letter case ignored).
bool IsPlannedFileName(std::string_view physicalName, std::string_view newName,
                       std::string_view dataFolder, std::string_view logFolder);

// RESTORE DATABASE of one file of a chain: "WITH NORECOVERY" while more
// files follow, "WITH RECOVERY" for the last, then the moves and REPLACE.
std::string RestoreDatabaseStatement(std::string_view target, std::string_view file,
                                     bool lastOfChain, const std::vector<RestoreMove>& moves = {},
                                     bool replace = false);

// RESTORE LOG of one log backup of a chain: "WITH NORECOVERY" while more
// follow; the last "WITH STOPAT = N'<stopAt>', RECOVERY" (or "WITH RECOVERY"
// without a moment), then the moves.
std::string RestoreLogStatement(std::string_view target, std::string_view file, bool lastOfChain,
                                std::string_view stopAt, const std::vector<RestoreMove>& moves);

// One row (name) when the database exists.
std::string DatabaseExistsQuery(std::string_view name);
std::string CheckDatabaseStatement(std::string_view name);  // DBCC CHECKDB, errors only
std::string DropDatabaseStatement(std::string_view name);
// Ends every other session in the database, so that a DROP can follow.
std::string SingleUserStatement(std::string_view name);
// The physical names of a database's files (physical_name), from master.
std::string DatabaseFilesQuery(std::string_view name);
// When the set was taken (backup_start_date), from the server's backup history.
std::string BackupSetStartQuery(std::string_view backupSetGuid);

// The server's own name, as backup headers carry it.
inline constexpr std::string_view kServerNameQuery = "select @@SERVERNAME as ServerName";
// The files of master (type 0 data, 1 log): their folders stand in for default folders the
// server does not name.
inline constexpr std::string_view kMasterFilesQuery =
    "select type, physical_name from master.sys.master_files where database_id = 1";

// The server's default folders for new data and log files (DataPath, LogPath).
inline constexpr std::string_view kDefaultFoldersQuery =
    "select cast(SERVERPROPERTY('InstanceDefaultDataPath') as nvarchar(4000)) as DataPath, "
    "cast(SERVERPROPERTY('InstanceDefaultLogPath') as nvarchar(4000)) as LogPath";

}  // namespace mvx
