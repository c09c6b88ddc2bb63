#pragma once

#include <array>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "backup/backup_file_name.h"

namespace mvx {

// The backup folder read once and grouped the way the cleanup asks for it:
// by the upper-cased name part before the first "(" and by extension, each
// group in directory order. Only names that hold a "(" and end in one of the
// four backup extensions are kept; the others can never be cleaned up.
class BackupFolderListing {
 public:
  using Group = std::vector<std::string>;

  // Throws std::runtime_error when the folder cannot be read.
  static BackupFolderListing Read(std::string_view folder);

  const std::string& folder() const { return folder_; }
  // The files of that extension (index into kBackupExtensions) whose name
  // part before the first "(" equals `upperDatabase` (upper-cased ASCII).
  // Callers replace the group's contents after deleting files, so the
  // listing stays what the folder holds. Null when there are none.
  Group* Find(std::size_t extensionIndex, const std::string& upperDatabase);

 private:
  std::string folder_;
  std::unordered_map<std::string, std::array<Group, kBackupExtensions.size()>> groups_;
};

}  // namespace mvx
