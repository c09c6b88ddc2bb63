#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace mvx {

// File-system access of the backup engine. Folders and paths are texts in the
// service's form, "\" between folder and name; on POSIX "\" reads as "/".

// Names of the ordinary and read-only files of the folder, in directory order,
// for which `wanted` (asked first, so that unwanted names cost nothing more)
// answers true. Folders, hidden and system files are left out; on POSIX only
// regular files whose names do not begin with "." count (symbolic links do
// not). Throws std::runtime_error when the folder cannot be read.
std::vector<std::string> ListBackupFolderFiles(
    std::string_view folder, const std::function<bool(std::string_view name)>& wanted);

// Deletes one file found by ListBackupFolderFiles; false when the system
// refuses (locked, vanished meanwhile) and for a read-only file, which on
// POSIX is one without any write bit.
bool DeleteBackupFile(std::string_view folder, std::string_view name);

// False for a file DeleteBackupFile would refuse as read-only (on POSIX: no write bit at all)
// and for one that is gone; asks without changing anything.
bool BackupFileWritable(std::string_view folder, std::string_view name);

// Renames the file of that path to "<path>.bad", replacing one of that name; false when the
// system refuses.
bool SetAsideBackupFile(std::string_view path);

// True only when a file (not a folder) of that path is known to exist: a
// backup is never skipped on a doubtful answer.
bool BackupFileExists(std::string_view path);

}  // namespace mvx
