#pragma once

#include <stdexcept>
#include <string>

namespace mvx {

// A failed HTTP request: status is the server's status code, or 0 when the
// exchange itself failed (no connection, timeout, malformed or cut answer).
class HttpError : public std::runtime_error {
 public:
  HttpError(int status, const std::string& message, std::string responseText = {})
      : std::runtime_error(message), status_(status), responseText_(std::move(responseText)) {}

  int status() const { return status_; }
  const std::string& responseText() const { return responseText_; }

 private:
  int status_;
  std::string responseText_;
};

}  // namespace mvx
