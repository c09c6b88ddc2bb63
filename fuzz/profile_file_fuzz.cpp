// Feeds arbitrary bytes to the profile-file reader and the settings loader.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "common/profile_file.h"
#include "config/settings.h"

namespace {

// One scratch file for the whole run, written plainly: a durable write per
// input would leave the loader a few hundred runs in a short session.
class ScratchFile {
 public:
  ScratchFile() {
    if (mkdtemp(dir_.data()) == nullptr) std::abort();
    path_ = dir_ + "/RazuRarevi.ini";
  }
  ~ScratchFile() {
    ::unlink(path_.c_str());
    ::rmdir(dir_.c_str());
  }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;
  const std::string& Write(const std::uint8_t* data, std::size_t size) const {
    std::ofstream out(path_, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!out.flush()) std::abort();
    return path_;
  }

 private:
  std::string dir_ = "/tmp/mvx-fuzz-XXXXXX";
  std::string path_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const ScratchFile scratch;
  const std::string& path = scratch.Write(data, size);
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
