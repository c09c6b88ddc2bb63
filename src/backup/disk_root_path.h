#pragma once

#include <string>
#include <string_view>

namespace mvx {

// What the disk check measures for the "DBPath" setting on this platform:
// the drive root on Windows (DriveRootPath), the path itself on POSIX, where
// the file system that holds it is measured.
std::string DiskRootPath(std::string_view dbPath);

// The Windows reading: a drive letter, alone or followed by ":" or ":\", names
// that drive's root ("C", "C:" and "C:\" all give "C:\"); any other value gets
// ":\" appended, which names no volume, so the check warns.
std::string DriveRootPath(std::string_view dbPath);

}  // namespace mvx
