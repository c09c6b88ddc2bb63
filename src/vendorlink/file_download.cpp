#include <cstdint>

#include "vendorlink/download_temp_file.h"
#include "vendorlink/http_error.h"
#include "vendorlink/link_module.h"
#include "vendorlink/link_operation.h"

namespace mvx {

namespace {

class TempFileTarget final : public HttpBodyTarget {
 public:
  explicit TempFileTarget(DownloadTempFile& file) : file_(file) {}
  void Write(std::string_view bytes) override { file_.Write(bytes); }

 private:
  DownloadTempFile& file_;
};

}  // namespace

bool TdMFunc::DownloadFile(std::string_view url, const std::string& path) {
  const Operation operation(*this);
  DownloadTempFile temp(path);
  TempFileTarget target(temp);
  try {
    idHttp1_.HttpGetFile(url, target, kMaxDownloadBytes);
  } catch (const HttpError&) {
    return false;
  }
  temp.ReplaceTarget();
  return true;
}

}  // namespace mvx
