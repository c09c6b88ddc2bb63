#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace mvx {

// Where a download lands before it replaces its target: a file created
// exclusively under a fresh name in the target's folder, so neither a file
// that is there nor a link planted under a guessable name is ever written
// through. Removed again unless it replaced the target. Paths are UTF-8.
class DownloadTempFile {
 public:
  // Throws std::runtime_error("Unable to write to <target>") when no such
  // file can be created.
  explicit DownloadTempFile(const std::string& target);
  ~DownloadTempFile();
  DownloadTempFile(const DownloadTempFile&) = delete;
  DownloadTempFile& operator=(const DownloadTempFile&) = delete;

  // Throws std::runtime_error when the system refuses.
  void Write(std::string_view bytes);
  // Puts the bytes on the disk, closes the file and renames it over the
  // target. Throws std::runtime_error when the system refuses.
  void ReplaceTarget();

 private:
  struct Handle;
  std::string target_;
  std::string path_;
  std::unique_ptr<Handle> handle_;
  bool replaced_ = false;
};

}  // namespace mvx
