#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <stdexcept>

#include "common/atomic_file.h"

namespace mvx {
namespace {

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

[[noreturn]] void Refused(const std::string& path) {
  throw std::runtime_error("Unable to write to " + path);
}

constexpr std::string_view kTempSuffix = ".tmp-";

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// A rename is durable only once the folder that holds the name is.
bool SyncFolder(const std::string& path) {
  Fd fd(::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return fd.get() >= 0 && ::fsync(fd.get()) == 0;
}

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};

}  // namespace

void WriteFileAtomically(const std::string& path, std::string_view bytes, NewFileAccess access,
                         ModifiedTime time) {
  // A rewrite keeps the permissions of the file it replaces: the settings file holds the
  // database password, and an operator who closed it to others keeps it closed.
  struct stat existing {};
  const bool replaces = ::stat(path.c_str(), &existing) == 0;
  const mode_t created = access == NewFileAccess::OwnerOnly ? 0600 : 0644;
  const mode_t mode = replaces ? existing.st_mode & 07777 : created;
  std::string temp = path + std::string(kTempSuffix) + "XXXXXX";
  Fd fd(::mkstemp(temp.data()));
  if (fd.get() < 0) Refused(path);
  bool ok = ::fchmod(fd.get(), mode) == 0;
  std::size_t done = 0;
  while (ok && done < bytes.size()) {
    const ssize_t n = ::write(fd.get(), bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0)
      ok = false;
    else
      done += static_cast<std::size_t>(n);
  }
  if (ok && replaces && time == ModifiedTime::KeepPrevious) {
    // After the last write, which would set the time again.
    const timespec times[2] = {{0, UTIME_OMIT}, existing.st_mtim};
    ok = ::futimens(fd.get(), times) == 0;
  }
  ok = ok && ::fsync(fd.get()) == 0;
  ok = fd.Close() && ok;
  ok = ok && ::rename(temp.c_str(), path.c_str()) == 0;
  if (!ok) {
    ::unlink(temp.c_str());
    Refused(path);
  }
  if (!SyncFolder(path)) Refused(path);
}

void RemoveLeftoverTemporaries(const std::string& path) {
  const std::string folder = FolderOf(path);
  const std::size_t slash = path.rfind('/');
  const std::string prefix =
      (slash == std::string::npos ? path : path.substr(slash + 1)) + std::string(kTempSuffix);
  std::unique_ptr<DIR, DirCloser> dir(::opendir(folder.c_str()));
  if (!dir) return;
  // mkstemp's six characters follow the prefix; nothing else of that shape is ours.
  while (const dirent* entry = ::readdir(dir.get())) {
    const std::string_view name(entry->d_name);
    if (name.size() == prefix.size() + 6 && name.substr(0, prefix.size()) == prefix) {
      ::unlinkat(::dirfd(dir.get()), entry->d_name, 0);
    }
  }
}

bool SyncFileToDisk(const std::string& path) {
  Fd fd(::open(path.c_str(), O_WRONLY | O_CLOEXEC));
  return fd.get() >= 0 && ::fsync(fd.get()) == 0;
}

bool FileExists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0;
}

bool RemoveFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

bool ReadWholeFile(const std::string& path, std::string& bytes) {
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) return false;
  bytes.clear();
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    bytes.append(buffer, static_cast<std::size_t>(n));
  }
}

}  // namespace mvx
