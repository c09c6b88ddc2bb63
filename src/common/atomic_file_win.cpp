#include <windows.h>

#include <algorithm>
#include <stdexcept>

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

}  // namespace

void WriteFileAtomically(const std::string& path, std::string_view bytes) {
  const std::string temp = path + ".tmp-" + std::to_string(GetCurrentProcessId()) + "-" +
                           std::to_string(GetTickCount64());
  bool ok = false;
  {
    Handle file(CreateFileW(WideFromUtf8(temp).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
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
