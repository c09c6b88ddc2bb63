#include "vendorlink/http_form.h"

#include "common/date_text.h"

namespace mvx {

std::string MakeFormBoundary(const LocalDateTime& now) {
  return "--------" + FormatBoundaryStamp(now);
}

void HttpForm::AddField(std::string_view name, std::string_view value) {
  fields_.emplace_back(std::string(name), std::string(value));
}

std::string HttpForm::ContentType() const { return "multipart/form-data; boundary=" + boundary_; }

std::string HttpForm::Body() const {
  std::string body;
  for (const auto& [name, value] : fields_) {
    body += "--" + boundary_ + "\r\n";
    body += "Content-Disposition: form-data; name=\"" + name + "\"\r\n";
    body += "\r\n";
    body += value;
    body += "\r\n";
  }
  body += "--" + boundary_ + "--\r\n";
  return body;
}

}  // namespace mvx
