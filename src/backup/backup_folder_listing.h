#pragma once

#include <array>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "backup/backup_file_name.h"

namespace mvx {

// The backup folder read once and grouped the way the cleanup asks for it:
// by the upper-cased database name and by extension, each group in directory
// order. Only names of the exact form "<name>(<8 digits>)<extension>" are
// kept (ParseBackupFileName); the others are nobody's backups.
class BackupFolderListing {
 public:
  using Group = std::vector<std::string>;

  // Throws std::runtime_error when the folder cannot be read.
  static BackupFolderListing Read(std::string_view folder);

  const std::string& folder() const { return folder_; }
  // The files of that extension (index into kBackupExtensions) whose
  // database name equals `upperDatabase` (upper-cased ASCII).
  // Callers replace the group's contents after deleting files, so the
  // listing stays what the folder holds. Null when there are none.
  Group* Find(std::size_t extensionIndex, const std::string& upperDatabase);
  // Counts a name of the exact form as if the folder held it (a plan assuming a backup it
  // expects to be written); false for any other name.
  bool Add(std::string name);
  // The same for backups set aside after a failed verification ("<name>.bad").
  Group* FindSetAside(std::size_t extensionIndex, const std::string& upperDatabase);
  // The log backups ("<name>(<8 digits>-<6 digits>).trn") of the database, the same way.
  Group* FindLogBackups(const std::string& upperDatabase);

 private:
  using Groups = std::unordered_map<std::string, std::array<Group, kBackupExtensions.size()>>;
  static Group* FindIn(Groups& groups, std::size_t extensionIndex,
                       const std::string& upperDatabase);

  std::string folder_;
  Groups groups_;
  Groups setAside_;
  std::unordered_map<std::string, Group> logGroups_;
};

}  // namespace mvx
