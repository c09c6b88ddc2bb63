#include "vendorlink/http_url.h"

#include "common/text_util.h"

namespace mvx {

std::optional<HttpUrl> ParseHttpUrl(std::string_view url) {
  constexpr std::string_view kScheme = "http://";
  if (url.size() < kScheme.size() || !EqualsNoCase(url.substr(0, kScheme.size()), kScheme)) {
    return std::nullopt;
  }
  url.remove_prefix(kScheme.size());
  const std::size_t pathAt = url.find_first_of("/?");
  std::string_view authority = url.substr(0, pathAt);
  HttpUrl result;
  result.path = pathAt == std::string_view::npos ? "/" : std::string(url.substr(pathAt));
  if (result.path.front() != '/') result.path.insert(0, "/");

  const std::size_t colon = authority.find(':');
  if (colon != std::string_view::npos) {
    std::string_view digits = authority.substr(colon + 1);
    if (digits.empty() || digits.size() > 5) return std::nullopt;
    unsigned value = 0;
    for (char c : digits) {
      if (c < '0' || c > '9') return std::nullopt;
      value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value == 0 || value > 65535) return std::nullopt;
    result.port = static_cast<std::uint16_t>(value);
    authority = authority.substr(0, colon);
  }
  if (authority.empty()) return std::nullopt;
  for (char c : authority) {
    // Host names and dotted addresses only; anything else could break the request head.
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '-' || c == '.' || c == '_';
    if (!ok) return std::nullopt;
  }
  for (char c : result.path) {
    if (static_cast<unsigned char>(c) <= 32 || c == 127) return std::nullopt;
  }
  result.host = std::string(authority);
  return result;
}

}  // namespace mvx
