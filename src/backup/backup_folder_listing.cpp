#include "backup/backup_folder_listing.h"

#include "backup/backup_folder.h"

namespace mvx {

BackupFolderListing BackupFolderListing::Read(std::string_view folder) {
  BackupFolderListing listing;
  listing.folder_ = std::string(folder);
  std::vector<std::string> names = ListBackupFolderFiles(folder, [](std::string_view name) {
    return ParseBackupFileName(name).has_value() || ParseSetAsideFileName(name).has_value() ||
           ParseLogBackupFileName(name).has_value();
  });
  for (std::string& name : names) {
    if (std::optional<BackupFileNameParts> parts = ParseBackupFileName(name)) {
      listing.groups_[std::move(parts->upperName)][parts->extension].push_back(std::move(name));
    } else if ((parts = ParseSetAsideFileName(name))) {
      listing.setAside_[std::move(parts->upperName)][parts->extension].push_back(std::move(name));
    } else if (std::optional<LogBackupFileNameParts> log = ParseLogBackupFileName(name)) {
      listing.logGroups_[std::move(log->upperName)].push_back(std::move(name));
    }
  }
  return listing;
}

BackupFolderListing::Group* BackupFolderListing::FindIn(Groups& groups, std::size_t extensionIndex,
                                                        const std::string& upperDatabase) {
  if (extensionIndex >= kBackupExtensions.size()) return nullptr;
  const auto found = groups.find(upperDatabase);
  if (found == groups.end()) return nullptr;
  Group& group = found->second[extensionIndex];
  return group.empty() ? nullptr : &group;
}

bool BackupFolderListing::Add(std::string name) {
  std::optional<BackupFileNameParts> parts = ParseBackupFileName(name);
  if (!parts) return false;
  groups_[std::move(parts->upperName)][parts->extension].push_back(std::move(name));
  return true;
}

BackupFolderListing::Group* BackupFolderListing::Find(std::size_t extensionIndex,
                                                      const std::string& upperDatabase) {
  return FindIn(groups_, extensionIndex, upperDatabase);
}

BackupFolderListing::Group* BackupFolderListing::FindSetAside(std::size_t extensionIndex,
                                                              const std::string& upperDatabase) {
  return FindIn(setAside_, extensionIndex, upperDatabase);
}

BackupFolderListing::Group* BackupFolderListing::FindLogBackups(const std::string& upperDatabase) {
  const auto found = logGroups_.find(upperDatabase);
  return found == logGroups_.end() || found->second.empty() ? nullptr : &found->second;
}

}  // namespace mvx
