#include "backup/disk_root_path.h"

namespace mvx {
namespace {

bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

}  // namespace

std::string DriveRootPath(std::string_view dbPath) {
  const bool driveOnly =
      !dbPath.empty() && IsAsciiLetter(dbPath[0]) &&
      (dbPath.size() == 1 ||
       (dbPath[1] == ':' &&
        (dbPath.size() == 2 || (dbPath.size() == 3 && (dbPath[2] == '\\' || dbPath[2] == '/')))));
  if (driveOnly) return std::string(1, dbPath[0]) + ":\\";
  return std::string(dbPath) + ":\\";
}

}  // namespace mvx
