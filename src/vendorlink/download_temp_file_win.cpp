#include <windows.h>

#include <algorithm>
#include <atomic>
#include <stdexcept>

#include "common/win_text.h"
#include "vendorlink/download_temp_file.h"

namespace mvx {
namespace {

// Names differ within the process by the counter, between processes by the id.
std::atomic<unsigned> nameCounter{0};

}  // namespace

struct DownloadTempFile::Handle {
  HANDLE file = INVALID_HANDLE_VALUE;
  ~Handle() {
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  }
  bool Close() {
    const HANDLE closing = file;
    file = INVALID_HANDLE_VALUE;
    return CloseHandle(closing) != 0;
  }
};

DownloadTempFile::DownloadTempFile(const std::string& target)
    : target_(target), handle_(std::make_unique<Handle>()) {
  // CREATE_NEW fails on any name that is there, a link included: a taken name tries the next.
  for (int attempt = 0; attempt < 100 && handle_->file == INVALID_HANDLE_VALUE; ++attempt) {
    path_ = target_ + ".download-" + std::to_string(GetCurrentProcessId()) + "-" +
            std::to_string(GetTickCount64()) + "-" + std::to_string(nameCounter++);
    handle_->file = CreateFileW(WideFromUtf8(path_).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle_->file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) break;
  }
  if (handle_->file == INVALID_HANDLE_VALUE) {
    throw std::runtime_error("Unable to write to " + target_);
  }
}

DownloadTempFile::~DownloadTempFile() {
  if (replaced_) return;
  handle_.reset();
  DeleteFileW(WideFromUtf8(path_).c_str());
}

void DownloadTempFile::Write(std::string_view bytes) {
  while (!bytes.empty()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1 << 20));
    DWORD written = 0;
    if (!WriteFile(handle_->file, bytes.data(), chunk, &written, nullptr) || written == 0) {
      throw std::runtime_error("Unable to write to " + target_);
    }
    bytes.remove_prefix(written);
  }
}

void DownloadTempFile::ReplaceTarget() {
  if (!FlushFileBuffers(handle_->file) || !handle_->Close()) {
    throw std::runtime_error("Unable to write to " + target_);
  }
  if (!MoveFileExW(WideFromUtf8(path_).c_str(), WideFromUtf8(target_).c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    throw std::runtime_error("Unable to replace " + target_);
  }
  replaced_ = true;
}

}  // namespace mvx
