#include "backup/restore_statements.h"

#include <optional>

#include "backup/backup_statements.h"
#include "common/text_util.h"

namespace mvx {
namespace {

std::string FromDisk(std::string_view file) { return " FROM DISK = N'" + NationalText(file) + "'"; }

// A folder as the server names it, joined with its own separator: "/" on a
// server on Linux, "\" otherwise.
std::string InFolder(std::string_view folder, const std::string& name) {
  std::string path(folder);
  if (!path.empty() && path.back() != '\\' && path.back() != '/') {
    const bool slashes =
        path.find('/') != std::string::npos && path.find('\\') == std::string::npos;
    path += slashes ? '/' : '\\';
  }
  return path + name;
}

}  // namespace

std::string RestoreHeaderStatement(std::string_view file) {
  return "RESTORE HEADERONLY" + FromDisk(file);
}

std::string RestoreFileListStatement(std::string_view file) {
  return "RESTORE FILELISTONLY" + FromDisk(file);
}

std::vector<RestoreMove> PlanRestoreMoves(const std::vector<BackupFileEntry>& files,
                                          std::string_view newName, std::string_view dataFolder,
                                          std::string_view logFolder) {
  std::vector<RestoreMove> moves;
  int data = 0;
  int logs = 0;
  const std::string base(newName);
  for (const BackupFileEntry& file : files) {
    std::string name;
    if (EqualsNoCase(file.type, "L")) {
      ++logs;
      name = InFolder(logFolder, base + "_log" + (logs == 1 ? "" : std::to_string(logs)) + ".ldf");
    } else {
      ++data;
      name =
          InFolder(dataFolder, base + (data == 1 ? ".mdf" : "_" + std::to_string(data) + ".ndf"));
    }
    moves.push_back({file.logicalName, std::move(name)});
  }
  return moves;
}

bool IsPlannedFileName(std::string_view physicalName, std::string_view newName,
                       std::string_view dataFolder, std::string_view logFolder) {
  // "<rest>" after the folder must be "<newName><tail>" with a tail of the plan's forms.
  auto rest = [&](std::string_view folder) -> std::optional<std::string> {
    const std::string prefix = InFolder(folder, std::string(newName));
    if (physicalName.size() < prefix.size() ||
        !EqualsNoCase(physicalName.substr(0, prefix.size()), prefix)) {
      return std::nullopt;
    }
    return UpperAscii(physicalName.substr(prefix.size()));
  };
  auto numbered = [](std::string_view tail, std::string_view before, std::string_view after,
                     bool numberOptional) {
    if (tail.size() < before.size() + after.size() || tail.substr(0, before.size()) != before ||
        tail.substr(tail.size() - after.size()) != after) {
      return false;
    }
    const std::string_view digits =
        tail.substr(before.size(), tail.size() - before.size() - after.size());
    if (digits.empty()) return numberOptional;
    return digits.size() <= 9 && digits.front() != '0' &&
           digits.find_first_not_of("0123456789") == std::string_view::npos;
  };
  if (const std::optional<std::string> tail = rest(dataFolder)) {
    if (*tail == ".MDF" || numbered(*tail, "_", ".NDF", false)) return true;
  }
  if (const std::optional<std::string> tail = rest(logFolder)) {
    if (numbered(*tail, "_LOG", ".LDF", true)) return true;
  }
  return false;
}

std::string RestoreDatabaseStatement(std::string_view target, std::string_view file,
                                     bool lastOfChain, const std::vector<RestoreMove>& moves,
                                     bool replace) {
  std::string statement = "RESTORE DATABASE " + SqlBracketed(target) + FromDisk(file) + " WITH " +
                          (lastOfChain ? "RECOVERY" : "NORECOVERY") + ", STATS = 5";
  for (const RestoreMove& move : moves) {
    statement += ", MOVE N'" + NationalText(move.logicalName) + "' TO N'" +
                 NationalText(move.physicalName) + "'";
  }
  if (replace) statement += ", REPLACE";
  return statement;
}

std::string RestoreLogStatement(std::string_view target, std::string_view file, bool lastOfChain,
                                std::string_view stopAt, const std::vector<RestoreMove>& moves) {
  std::string statement = "RESTORE LOG " + SqlBracketed(target) + FromDisk(file) + " WITH ";
  if (!lastOfChain) {
    statement += "NORECOVERY";
  } else if (!stopAt.empty()) {
    // "yyyy-mm-ddThh:mm:ss" reads the same under every login language; with a blank
    // instead of the T, a day-first language takes the month for the day.
    std::string moment(stopAt);
    if (moment.size() > 10 && moment[10] == ' ') moment[10] = 'T';
    statement += "STOPAT = N'" + NationalText(moment) + "', RECOVERY";
  } else {
    statement += "RECOVERY";
  }
  for (const RestoreMove& move : moves) {
    statement += ", MOVE N'" + NationalText(move.logicalName) + "' TO N'" +
                 NationalText(move.physicalName) + "'";
  }
  return statement;
}

std::string DatabaseExistsQuery(std::string_view name) {
  return "select name from master.dbo.sysdatabases where name = N'" + NationalText(name) + "'";
}

std::string CheckDatabaseStatement(std::string_view name) {
  return "DBCC CHECKDB (" + SqlBracketed(name) + ") WITH NO_INFOMSGS";
}

std::string DropDatabaseStatement(std::string_view name) {
  return "DROP DATABASE " + SqlBracketed(name);
}

std::string SingleUserStatement(std::string_view name) {
  return "ALTER DATABASE " + SqlBracketed(name) + " SET SINGLE_USER WITH ROLLBACK IMMEDIATE";
}

std::string DatabaseFilesQuery(std::string_view name) {
  return "select physical_name from master.sys.master_files where database_id = DB_ID(N'" +
         NationalText(name) + "')";
}

std::string BackupSetStartQuery(std::string_view backupSetGuid) {
  return "select top 1 backup_start_date from msdb.dbo.backupset where backup_set_uuid = N'" +
         NationalText(backupSetGuid) + "'";
}

}  // namespace mvx
