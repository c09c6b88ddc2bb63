#include <windows.h>

#include <vector>

#include "common/disk_identity.h"
#include "common/text_util.h"
#include "common/win_text.h"

namespace mvx {

std::string DiskIdentity(std::string_view path) {
  const std::wstring wide = WideFromUtf8(path);
  if (wide.empty()) return std::string();
  // The volume's mount point: a drive root, or a folder a volume is mounted on.
  std::vector<wchar_t> root(wide.size() + MAX_PATH + 1, L'\0');
  if (!GetVolumePathNameW(wide.c_str(), root.data(), static_cast<DWORD>(root.size()))) {
    return std::string();
  }
  return UpperAscii(Utf8FromWide(root.data()));
}

}  // namespace mvx
