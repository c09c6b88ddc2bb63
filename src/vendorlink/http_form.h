#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/clock.h"

namespace mvx {

// "--------" and the local time "mmddyyhhnnsszzz": 23 characters.
std::string MakeFormBoundary(const LocalDateTime& now);

// A multipart/form-data form: ordered fields with values already passed
// through EncodeFormValue, and the boundary fixed when the form is made.
class HttpForm {
 public:
  explicit HttpForm(std::string boundary) : boundary_(std::move(boundary)) {}

  void AddField(std::string_view name, std::string_view value);

  // "multipart/form-data; boundary=" and the boundary.
  std::string ContentType() const;
  // Each field as "--" boundary CRLF, its Content-Disposition line, an empty
  // line, the value and CRLF; then "--" boundary "--" CRLF.
  std::string Body() const;

 private:
  std::string boundary_;
  std::vector<std::pair<std::string, std::string>> fields_;
};

}  // namespace mvx
