#include "backup/disk_root_path.h"
#include "common/host_info.h"

namespace mvx {

std::string DiskRootPath(std::string_view dbPath) { return NativePath(dbPath); }

}  // namespace mvx
