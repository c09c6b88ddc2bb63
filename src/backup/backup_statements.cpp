#include "backup/backup_statements.h"

#include "common/text_util.h"

namespace mvx {
namespace {

constexpr std::string_view kChecksum = ", CHECKSUM";

}  // namespace

std::string NationalText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    out.push_back(c);
    if (c == '\'') out.push_back('\'');
  }
  return out;
}

std::string FullBackupStatement(std::string_view database, std::string_view fileName,
                                bool checksum) {
  return "BACKUP DATABASE " + SqlBracketed(database) + " TO DISK = N'" + NationalText(fileName) +
         "' WITH INIT, NOUNLOAD, NAME = N'" + NationalText(std::string(database) + " 백업") +
         "', NOSKIP, STATS = 10, NOFORMAT" + std::string(checksum ? kChecksum : "");
}

std::string DifferentialBackupStatement(std::string_view database, std::string_view fileName,
                                        bool checksum) {
  // Mixed-case "Backup" and no blank before "백업": the set names of earlier
  // differential backups look like this, so they stay.
  return "Backup DATABASE " + SqlBracketed(database) + " TO DISK = N'" + NationalText(fileName) +
         "' WITH INIT, NOUNLOAD, DIFFERENTIAL, NAME = N'" +
         NationalText(std::string(database) + "백업") + "', NOSKIP, STATS = 10, NOFORMAT" +
         std::string(checksum ? kChecksum : "");
}

std::string LogBackupStatement(std::string_view database, std::string_view fileName,
                               bool checksum) {
  return "BACKUP LOG " + SqlBracketed(database) + " TO DISK = N'" + NationalText(fileName) +
         "' WITH INIT, NOFORMAT" + std::string(checksum ? kChecksum : "");
}

std::string RecoveryModelQuery(std::string_view database) {
  return "select convert(varchar(60), DATABASEPROPERTYEX(N'" + NationalText(database) +
         "', 'Recovery'))";
}

std::string VerifyBackupStatement(std::string_view fileName) {
  return "RESTORE VERIFYONLY FROM DISK = N'" + NationalText(fileName) + "' WITH CHECKSUM";
}

std::string UseDatabaseStatement(std::string_view database) {
  return "use " + SqlIdentifier(database);
}

std::string RecoverySimpleStatement(std::string_view database) {
  return "ALTER DATABASE " + SqlIdentifier(database) + " SET RECOVERY SIMPLE";
}

std::string RecoveryFullStatement(std::string_view database) {
  return "ALTER DATABASE " + SqlIdentifier(database) + " SET RECOVERY FULL";
}

std::string ShrinkFileStatement(std::string_view logicalFileName) {
  // The name comes from the server's catalogue, so it enters as an
  // identifier like a database name does.
  const std::string target =
      logicalFileName.empty() ? std::string() : SqlIdentifier(logicalFileName);
  return "DBCC SHRINKFILE(" + target + ")";
}

}  // namespace mvx
