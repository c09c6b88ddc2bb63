#include <cstdint>

#include "backup/backup_engine.h"
#include "backup/disk_root_path.h"

namespace mvx {
namespace {

constexpr std::string_view kDiskSpaceWarning = "Disk Space 경고!!!";
constexpr std::string_view kDiskSpaceCode = "007";

}  // namespace

bool DiskSpaceShort(std::uint64_t freeBytes) {
  return freeBytes / kBytesPerMegabyte < kWarningMegabytes;
}

void BackupEngine::CheckDiskSpace() {
  // A path the system cannot measure reads as 0 bytes free, so it warns.
  const std::uint64_t freeBytes = freeSpace_(DiskRootPath(settings_.dbPath));
  if (DiskSpaceShort(freeBytes)) {
    RecordOutcome("", kDiskSpaceWarning, kDiskSpaceCode);
  }
}

}  // namespace mvx
