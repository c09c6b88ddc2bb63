#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <system_error>

#include "common/atomic_file.h"
#include "vendorlink/http_error.h"
#include "vendorlink/link_module.h"
#include "vendorlink/link_operation.h"

namespace mvx {

namespace {

namespace fs = std::filesystem;

fs::path PathFromUtf8(const std::string& utf8) {
  return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

// Removes the temporary file on every path except a completed rename.
class TemporaryFile {
 public:
  explicit TemporaryFile(fs::path path) : path_(std::move(path)) {}
  ~TemporaryFile() {
    if (!committed_) {
      std::error_code ignored;
      fs::remove(path_, ignored);
    }
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  const fs::path& path() const { return path_; }
  void Commit() { committed_ = true; }

 private:
  fs::path path_;
  bool committed_ = false;
};

}  // namespace

bool TdMFunc::DownloadFile(std::string_view url, const std::string& path) {
  const Operation operation(*this);
  const fs::path target = PathFromUtf8(path);
  fs::path tempPath = target;
  tempPath += ".download";
  TemporaryFile temp(tempPath);
  {
    std::ofstream out(temp.path(), std::ios::binary | std::ios::trunc);
    if (!out) throw std::runtime_error("Unable to write to " + path + ".download");
    try {
      idHttp1_.HttpGetToStream(url, out);
    } catch (const HttpError&) {
      return false;
    }
    out.close();
    if (!out) throw std::runtime_error("Unable to write to " + path + ".download");
  }
  // On the disk before the rename, so a power loss cannot leave an empty program behind.
  if (!SyncFileToDisk(temp.path().string())) {
    throw std::runtime_error("Unable to write to " + path + ".download");
  }
  std::error_code error;
  fs::rename(temp.path(), target, error);
  if (error) throw std::runtime_error("Unable to replace " + path + ": " + error.message());
  temp.Commit();
  return true;
}

}  // namespace mvx
