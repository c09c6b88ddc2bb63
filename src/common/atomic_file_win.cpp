#include <windows.h>

#include <algorithm>
#include <memory>
#include <stdexcept>

#include "common/admin_only_acl_win.h"
#include "common/atomic_file.h"
#include "common/win_text.h"

namespace mvx {
namespace {

class Handle {
 public:
  explicit Handle(HANDLE h) : h_(h) {}
  ~Handle() {
    if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return h_; }
  bool Close() {
    const HANDLE h = h_;
    h_ = INVALID_HANDLE_VALUE;
    return CloseHandle(h) != 0;
  }

 private:
  HANDLE h_;
};

[[noreturn]] void Refused(const std::string& path) {
  throw std::runtime_error("Unable to write to " + path);
}

constexpr std::string_view kTempSuffix = ".tmp-";

}  // namespace

// An everyone-file follows the folder's own (inherited) ACL. An owner-only file gets SYSTEM and
// Administrators alone at every write, from the moment it exists: the temporary file is created
// with that DACL and the rename keeps it.
void WriteFileAtomically(const std::string& path, std::string_view bytes, NewFileAccess access,
                         ModifiedTime time) {
  WIN32_FILE_ATTRIBUTE_DATA existing{};
  const bool keepTime =
      time == ModifiedTime::KeepPrevious &&
      GetFileAttributesExW(WideFromUtf8(path).c_str(), GetFileExInfoStandard, &existing) != 0;
  const std::string temp = path + std::string(kTempSuffix) + std::to_string(GetCurrentProcessId()) +
                           "-" + std::to_string(GetTickCount64());
  bool ok = false;
  {
    AdminOnlyAcl acl;
    SECURITY_ATTRIBUTES* security = nullptr;
    if (access == NewFileAccess::OwnerOnly) {
      security = acl.attributes();
      if (security == nullptr) Refused(path);
    }
    Handle file(CreateFileW(WideFromUtf8(temp).c_str(), GENERIC_WRITE, 0, security, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) Refused(path);
    ok = true;
    std::size_t done = 0;
    while (ok && done < bytes.size()) {
      const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1 << 20));
      DWORD written = 0;
      ok = WriteFile(file.get(), bytes.data() + done, chunk, &written, nullptr) && written > 0;
      done += written;
    }
    // Set through the handle after the last write, the time is not changed again at its close.
    ok = ok && (!keepTime || SetFileTime(file.get(), nullptr, nullptr, &existing.ftLastWriteTime));
    ok = ok && FlushFileBuffers(file.get());
    ok = file.Close() && ok;
  }
  ok = ok && MoveFileExW(WideFromUtf8(temp).c_str(), WideFromUtf8(path).c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  if (!ok) {
    DeleteFileW(WideFromUtf8(temp).c_str());
    Refused(path);
  }
}

void RemoveLeftoverTemporaries(const std::string& path) {
  struct FindCloser {
    void operator()(HANDLE search) const { FindClose(search); }
  };
  const std::string pattern = path + std::string(kTempSuffix) + "*";
  WIN32_FIND_DATAW found{};
  HANDLE first = FindFirstFileW(WideFromUtf8(pattern).c_str(), &found);
  if (first == INVALID_HANDLE_VALUE) return;
  const std::unique_ptr<void, FindCloser> search(first);
  const std::size_t slash = path.find_last_of("\\/");
  const std::wstring folder =
      slash == std::string::npos ? std::wstring() : WideFromUtf8(path.substr(0, slash + 1));
  do {
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      DeleteFileW((folder + found.cFileName).c_str());
    }
  } while (FindNextFileW(search.get(), &found));
}

bool SyncFileToDisk(const std::string& path) {
  Handle file(CreateFileW(WideFromUtf8(path).c_str(), GENERIC_WRITE,
                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr));
  return file.get() != INVALID_HANDLE_VALUE && FlushFileBuffers(file.get());
}

bool FileExists(const std::string& path) {
  return GetFileAttributesW(WideFromUtf8(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool RemoveFile(const std::string& path) { return DeleteFileW(WideFromUtf8(path).c_str()) != 0; }

bool ReadWholeFile(const std::string& path, std::string& bytes) {
  Handle file(CreateFileW(WideFromUtf8(path).c_str(), GENERIC_READ,
                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file.get() == INVALID_HANDLE_VALUE) return false;
  bytes.clear();
  char buffer[65536];
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr)) return false;
    if (read == 0) return true;
    bytes.append(buffer, read);
  }
}

}  // namespace mvx
