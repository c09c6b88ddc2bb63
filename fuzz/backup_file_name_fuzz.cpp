// Any file name parses without failing; a name taken as a backup is one the service could have
// written for that database, date and extension; so are a set-aside backup and a log backup.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "backup/backup_file_name.h"
#include "common/text_util.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view name(reinterpret_cast<const char*>(data), size);
  // A backup set aside is a backup's name with ".bad" after it.
  if (mvx::ParseSetAsideFileName(name) &&
      !mvx::ParseBackupFileName(name.substr(0, name.size() - mvx::kSetAsideSuffix.size()))) {
    std::abort();
  }
  // A log backup's name is "<name>(yyyymmdd-hhmmss).trn" and nothing else.
  if (const auto log = mvx::ParseLogBackupFileName(name)) {
    if (log->upperName.empty() || log->stamp.size() != mvx::kLogBackupStampLength ||
        log->stamp[8] != '-' ||
        mvx::UpperAscii(name) != mvx::UpperAscii(log->upperName + "(" + log->stamp + ").trn")) {
      std::abort();
    }
  }
  const auto parts = mvx::ParseBackupFileName(name);
  if (!parts) return 0;
  if (parts->upperName.empty() || parts->stamp.size() != mvx::kBackupStampLength) std::abort();
  if (parts->extension >= mvx::kBackupExtensions.size()) std::abort();
  const std::string rebuilt = parts->upperName + "(" + parts->stamp + ")" +
                              std::string(mvx::kBackupExtensions[parts->extension]);
  if (mvx::UpperAscii(name) != mvx::UpperAscii(rebuilt)) std::abort();
  return 0;
}
