#pragma once

#include <string>
#include <string_view>

namespace mvx {

// The texts sent for a backup. Database names enter as identifiers (a regular
// name unchanged, any other in brackets with "]" doubled); the BACKUP target
// is always in brackets; quotes inside N'...' texts are doubled. For ordinary
// names the texts are exactly the service's historical ones.

// With `checksum` (the Verify setting) the server writes page checksums too: ", CHECKSUM" ends
// the statement.
std::string FullBackupStatement(std::string_view database, std::string_view fileName,
                                bool checksum = false);
std::string DifferentialBackupStatement(std::string_view database, std::string_view fileName,
                                        bool checksum = false);
std::string LogBackupStatement(std::string_view database, std::string_view fileName,
                               bool checksum = false);
// One row, one column: the database's recovery model ("FULL", "SIMPLE", "BULK_LOGGED"), NULL
// when the server does not know the database.
std::string RecoveryModelQuery(std::string_view database);
// The server reads the file back and checks its page checksums.
std::string VerifyBackupStatement(std::string_view fileName);
std::string UseDatabaseStatement(std::string_view database);
std::string RecoverySimpleStatement(std::string_view database);
std::string RecoveryFullStatement(std::string_view database);
// The logical log file name as the catalogue gave it; an empty one gives the
// statement the server refuses (and the caller absorbs).
std::string ShrinkFileStatement(std::string_view logicalFileName);

// The inside of an N'...' literal: quotes doubled.
std::string NationalText(std::string_view text);

inline constexpr std::string_view kLogFileQuery = "select name from sysfiles where fileid = 2";
inline constexpr std::string_view kUseMaster = "use master";

}  // namespace mvx
