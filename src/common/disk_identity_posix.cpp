#include <sys/stat.h>

#include "common/disk_identity.h"
#include "common/host_info.h"

namespace mvx {

std::string DiskIdentity(std::string_view path) {
  struct stat info {};
  const std::string native = NativePath(path);
  if (native.empty() || ::stat(native.c_str(), &info) != 0) return std::string();
  return std::to_string(static_cast<unsigned long long>(info.st_dev));
}

}  // namespace mvx
