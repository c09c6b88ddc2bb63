#include "backup/backup_folder_listing.h"

#include "backup/backup_folder.h"

namespace mvx {

BackupFolderListing BackupFolderListing::Read(std::string_view folder) {
  BackupFolderListing listing;
  listing.folder_ = std::string(folder);
  std::vector<std::string> names = ListBackupFolderFiles(folder, [](std::string_view name) {
    return name.find('(') != std::string_view::npos && BackupExtensionIndex(name) >= 0;
  });
  std::string key;
  for (std::string& name : names) {
    const int extension = BackupExtensionIndex(name);
    const std::size_t open = name.find('(');
    if (extension < 0 || open == std::string::npos) continue;
    // UpperAscii in place: one key buffer for the whole folder.
    key.assign(name, 0, open);
    for (char& c : key) {
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    listing.groups_[key][static_cast<std::size_t>(extension)].push_back(std::move(name));
  }
  return listing;
}

BackupFolderListing::Group* BackupFolderListing::Find(std::size_t extensionIndex,
                                                      const std::string& upperDatabase) {
  if (extensionIndex >= kBackupExtensions.size()) return nullptr;
  const auto found = groups_.find(upperDatabase);
  if (found == groups_.end()) return nullptr;
  Group& group = found->second[extensionIndex];
  return group.empty() ? nullptr : &group;
}

}  // namespace mvx
