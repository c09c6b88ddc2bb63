#pragma once

#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace mvx {

// Cookies kept in memory per host for the life of the process: name=value
// pairs in the order first set, bounded so a hostile server can't grow it.
class CookieJar {
 public:
  static constexpr std::size_t kMaxHosts = 16;
  static constexpr std::size_t kMaxCookiesPerHost = 32;
  static constexpr std::size_t kMaxCookieBytes = 4096;

  // Takes the value of a Set-Cookie or Set-Cookie2 header from `host`.
  // A Max-Age of zero or less removes the cookie.
  void Accept(std::string_view host, std::string_view headerValue);
  // "a=1; b=2" for the host, empty when it has none.
  std::string CookieHeader(std::string_view host) const;

 private:
  std::map<std::string, std::vector<std::pair<std::string, std::string>>> byHost_;
};

}  // namespace mvx
