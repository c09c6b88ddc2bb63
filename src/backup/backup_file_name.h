#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace mvx {

struct LocalDateTime;

inline constexpr std::string_view kFullBackupExtension = ".ful";
inline constexpr std::string_view kDifferentialBackupExtension = ".inc";
// What the cleanup searches for, in this order (four characters each, lower case).
inline constexpr std::array<std::string_view, 4> kBackupExtensions = {".ful", ".inc", ".trf",
                                                                      ".tri"};

// "<folder>\<database>(<yyyymmdd>)<extension>". The "\" stays a backslash on
// every platform: the folder is the one SQL Server writes to.
std::string BackupFileName(std::string_view folder, std::string_view database,
                           std::string_view today, std::string_view extension);

// Index into kBackupExtensions of the name's extension, compared without
// regard to case; -1 when it has none of them.
int BackupExtensionIndex(std::string_view fileName);

// Characters of the date stamp between the parentheses.
inline constexpr std::size_t kBackupStampLength = 8;

// What a backup file's name says about it.
struct BackupFileNameParts {
  std::string upperName;    // the database name, ASCII letters upper-cased
  std::string stamp;        // the eight digits of the date
  std::size_t extension{};  // index into kBackupExtensions
};

// The parts of a name of exactly the form "<name>(<8 digits>)<extension>",
// the name being everything before that last parenthesised date (it may hold
// parentheses of its own, never nothing). Any other name is nobody's backup:
// nullopt.
std::optional<BackupFileNameParts> ParseBackupFileName(std::string_view fileName);

// A backup whose verification failed keeps its name with this after it.
inline constexpr std::string_view kSetAsideSuffix = ".bad";

// The parts of a name "<name>(<8 digits>)<extension>.bad"; nullopt for any other.
std::optional<BackupFileNameParts> ParseSetAsideFileName(std::string_view fileName);

// Log backups: "<folder>\<database>(<yyyymmdd>-<hhmmss>).trn", the time being the start of
// the backup in local time.
inline constexpr std::string_view kLogBackupExtension = ".trn";
inline constexpr std::size_t kLogBackupStampLength = 15;  // yyyymmdd-hhmmss
std::string LogBackupFileName(std::string_view folder, std::string_view database,
                              const LocalDateTime& start);

// The parts of a name of exactly the form "<name>(<8 digits>-<6 digits>).trn" (extension in
// any letter case): the upper-cased name and the 15 characters of the stamp; nullopt for any
// other name.
struct LogBackupFileNameParts {
  std::string upperName;
  std::string stamp;
};
std::optional<LogBackupFileNameParts> ParseLogBackupFileName(std::string_view fileName);

}  // namespace mvx
