#include "backup/backup_file_name.h"

#include "common/date_text.h"

namespace mvx {

std::string BackupFileName(std::string_view folder, std::string_view database,
                           std::string_view today, std::string_view extension) {
  std::string name(folder);
  name += '\\';
  name += database;
  name += '(';
  name += DateStamp(today);
  name += ')';
  name += extension;
  return name;
}

int BackupExtensionIndex(std::string_view fileName) {
  // Asked for every name of folders of a hundred thousand files: no copies.
  constexpr std::size_t kLength = 4;
  if (fileName.size() < kLength) return -1;
  char tail[kLength];
  for (std::size_t i = 0; i < kLength; ++i) {
    const char c = fileName[fileName.size() - kLength + i];
    tail[i] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  }
  for (std::size_t i = 0; i < kBackupExtensions.size(); ++i) {
    if (std::string_view(tail, kLength) == kBackupExtensions[i]) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace mvx
