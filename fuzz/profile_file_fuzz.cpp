// Feeds arbitrary bytes to the profile-file reader and the settings loader.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/atomic_file.h"
#include "common/profile_file.h"
#include "config/settings.h"

namespace {

std::string ScratchPath() {
  static const std::string path = [] {
    std::string dir = "/tmp/mvx-fuzz-XXXXXX";
    if (mkdtemp(dir.data()) == nullptr) std::abort();
    return dir + "/RazuRarevi.ini";
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = ScratchPath();
  mvx::WriteFileAtomically(path, std::string(reinterpret_cast<const char*>(data), size));
  const mvx::ProfileFile file(path);
  for (const std::string& key : file.SectionKeys("DBServer")) {
    (void)file.ReadString("DBServer", key);
  }
  (void)file.SectionExists("RazuRarevi");
  mvx::Settings settings;
  mvx::ClearSettings(settings);
  mvx::LoadSettings(settings, path, /*correctFile=*/false);
  return 0;
}
