#include <windows.h>

#include <stdexcept>

#include "backup/backup_folder.h"

namespace mvx {
namespace {

// Texts are UTF-8 inside the program; the wide calls keep Korean names intact
// whatever the system's ANSI code page is.
std::wstring Wide(std::string_view utf8) {
  if (utf8.empty()) return {};
  const int length =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  if (length <= 0) return {};
  std::wstring out(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), length);
  return out;
}

std::string Utf8(const wchar_t* wide) {
  const int length = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (length <= 1) return {};
  std::string out(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide, -1, out.data(), length, nullptr, nullptr);
  out.pop_back();  // the terminating NUL
  return out;
}

class FindHandle {
 public:
  explicit FindHandle(HANDLE handle) : handle_(handle) {}
  ~FindHandle() {
    if (handle_ != INVALID_HANDLE_VALUE) FindClose(handle_);
  }
  FindHandle(const FindHandle&) = delete;
  FindHandle& operator=(const FindHandle&) = delete;
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

constexpr DWORD kSkippedAttributes =
    FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

}  // namespace

std::vector<std::string> ListBackupFolderFiles(
    std::string_view folder, const std::function<bool(std::string_view name)>& wanted) {
  std::string pattern(folder);
  if (!pattern.empty() && pattern.back() != '\\' && pattern.back() != '/') pattern += '\\';
  pattern += '*';
  WIN32_FIND_DATAW found{};
  FindHandle search(folder.empty() ? INVALID_HANDLE_VALUE
                                   : FindFirstFileW(Wide(pattern).c_str(), &found));
  std::vector<std::string> names;
  if (search.get() == INVALID_HANDLE_VALUE) {
    // Only an existing but empty root folder has nothing at all to find.
    if (!folder.empty() && GetLastError() == ERROR_FILE_NOT_FOUND) return names;
    throw std::runtime_error("Unable to read the backup folder " + std::string(folder));
  }
  do {
    if ((found.dwFileAttributes & kSkippedAttributes) != 0) continue;
    const std::string name = Utf8(found.cFileName);
    if (!name.empty() && wanted(name)) names.push_back(name);
  } while (FindNextFileW(search.get(), &found));
  return names;
}

bool BackupFileWritable(std::string_view folder, std::string_view name) {
  const std::string path = std::string(folder) + "\\" + std::string(name);
  const DWORD attributes = GetFileAttributesW(Wide(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) == 0;
}

bool DeleteBackupFile(std::string_view folder, std::string_view name) {
  const std::string path = std::string(folder) + "\\" + std::string(name);
  return DeleteFileW(Wide(path).c_str()) != 0;
}

bool SetAsideBackupFile(std::string_view path) {
  if (path.empty()) return false;
  const std::string target = std::string(path) + ".bad";
  return MoveFileExW(Wide(path).c_str(), Wide(target).c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

bool BackupFileExists(std::string_view path) {
  if (path.empty()) return false;
  const DWORD attributes = GetFileAttributesW(Wide(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace mvx
