#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "backup/backup_folder.h"
#include "common/host_info.h"

namespace mvx {
namespace {

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};

bool IsRegularFile(int folderFd, const dirent& entry) {
  if (entry.d_type == DT_REG) return true;
  if (entry.d_type != DT_UNKNOWN) return false;
  // Some file systems leave the type open; ask without following links.
  struct stat info {};
  return fstatat(folderFd, entry.d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode);
}

}  // namespace

std::vector<std::string> ListBackupFolderFiles(
    std::string_view folder, const std::function<bool(std::string_view name)>& wanted) {
  const std::string native = NativePath(folder);
  std::unique_ptr<DIR, DirCloser> dir(native.empty() ? nullptr : opendir(native.c_str()));
  if (!dir) {
    const int error = errno;
    throw std::runtime_error("Unable to read the backup folder " + std::string(folder) + ": " +
                             std::strerror(native.empty() ? ENOENT : error));
  }
  const int folderFd = dirfd(dir.get());
  std::vector<std::string> names;
  // readdir ends the loop at the end of the folder or on an error; a listing
  // cut short by an error leaves the rest for the next tick.
  while (const dirent* entry = readdir(dir.get())) {
    const std::string_view name(entry->d_name);
    if (name.empty() || name.front() == '.') continue;
    if (!wanted(name)) continue;
    if (IsRegularFile(folderFd, *entry)) names.emplace_back(name);
  }
  return names;
}

bool BackupFileWritable(std::string_view folder, std::string_view name) {
  // The name is used as listed: a "\" inside it is part of the name here.
  const std::string path = NativePath(folder) + "/" + std::string(name);
  // A file nobody may write is what a read-only file is on Windows, which
  // refuses to delete it; the folder's permission alone would let it go.
  struct stat info {};
  return lstat(path.c_str(), &info) == 0 && (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0;
}

bool DeleteBackupFile(std::string_view folder, std::string_view name) {
  if (!BackupFileWritable(folder, name)) return false;
  return unlink((NativePath(folder) + "/" + std::string(name)).c_str()) == 0;
}

bool SetAsideBackupFile(std::string_view path) {
  const std::string native = NativePath(path);
  return !native.empty() && rename(native.c_str(), (native + ".bad").c_str()) == 0;
}

bool BackupFileExists(std::string_view path) {
  const std::string native = NativePath(path);
  struct stat info {};
  return !native.empty() && stat(native.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

}  // namespace mvx
