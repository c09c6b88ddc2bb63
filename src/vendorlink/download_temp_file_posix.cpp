#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "vendorlink/download_temp_file.h"

namespace mvx {

struct DownloadTempFile::Handle {
  int fd = -1;
  ~Handle() {
    if (fd >= 0) ::close(fd);
  }
  bool Close() {
    const int closing = fd;
    fd = -1;
    return ::close(closing) == 0;
  }
};

DownloadTempFile::DownloadTempFile(const std::string& target)
    : target_(target), path_(target + ".download-XXXXXX"), handle_(std::make_unique<Handle>()) {
  // O_EXCL under a fresh name: an existing file or link is never opened.
  handle_->fd = ::mkostemp(path_.data(), O_CLOEXEC);
  if (handle_->fd < 0) throw std::runtime_error("Unable to write to " + target_);
  // As a file written with the usual creation mask would be; the installer sets what it runs.
  ::fchmod(handle_->fd, 0644);
}

DownloadTempFile::~DownloadTempFile() {
  if (replaced_) return;
  handle_.reset();
  ::unlink(path_.c_str());
}

void DownloadTempFile::Write(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(handle_->fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0)
      throw std::runtime_error("Unable to write to " + target_ + ": " + std::strerror(errno));
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

void DownloadTempFile::ReplaceTarget() {
  // On the disk before the rename, so a power loss cannot leave an empty program behind.
  if (::fsync(handle_->fd) != 0 || !handle_->Close()) {
    throw std::runtime_error("Unable to write to " + target_);
  }
  if (::rename(path_.c_str(), target_.c_str()) != 0) {
    throw std::runtime_error("Unable to replace " + target_ + ": " + std::strerror(errno));
  }
  replaced_ = true;
}

}  // namespace mvx
