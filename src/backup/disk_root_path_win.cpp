#include "backup/disk_root_path.h"

namespace mvx {

std::string DiskRootPath(std::string_view dbPath) { return DriveRootPath(dbPath); }

}  // namespace mvx
