#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace mvx {

struct HttpUrl {
  std::string host;
  std::optional<std::uint16_t> port;  // only when the URL names one
  std::string path;                   // begins with "/", query included
};

// Parses "http://host[:port][/path]"; nothing for any other form.
std::optional<HttpUrl> ParseHttpUrl(std::string_view url);

}  // namespace mvx
