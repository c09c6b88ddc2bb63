#pragma once

#include <array>
#include <string>
#include <string_view>

namespace mvx {

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

}  // namespace mvx
