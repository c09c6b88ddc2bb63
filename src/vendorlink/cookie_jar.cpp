#include "vendorlink/cookie_jar.h"

#include <algorithm>

#include "common/text_util.h"

namespace mvx {

namespace {

bool ValidName(std::string_view name) {
  if (name.empty()) return false;
  return std::none_of(name.begin(), name.end(), [](char c) {
    auto b = static_cast<unsigned char>(c);
    return b <= 32 || b >= 127 || c == ';' || c == ',' || c == '=';
  });
}

bool ValidValue(std::string_view value) {
  return std::none_of(value.begin(), value.end(), [](char c) {
    auto b = static_cast<unsigned char>(c);
    return b < 32 || b == 127 || c == ';';
  });
}

// True when the attributes carry Max-Age with a value of zero or less.
bool ExpiresNow(std::string_view attributes) {
  while (!attributes.empty()) {
    std::size_t semi = attributes.find(';');
    std::string_view attr = TrimSpacesAndTabs(attributes.substr(0, semi));
    attributes = semi == std::string_view::npos ? std::string_view{} : attributes.substr(semi + 1);
    std::size_t eq = attr.find('=');
    if (eq == std::string_view::npos) continue;
    if (!EqualsNoCase(TrimSpacesAndTabs(attr.substr(0, eq)), "max-age")) continue;
    std::string_view value = TrimSpacesAndTabs(attr.substr(eq + 1));
    if (!value.empty() && value.front() == '-') return true;
    if (!value.empty() && std::all_of(value.begin(), value.end(), [](char c) { return c == '0'; }))
      return true;
  }
  return false;
}

}  // namespace

void CookieJar::Accept(std::string_view host, std::string_view headerValue) {
  if (headerValue.size() > kMaxCookieBytes) return;
  std::size_t semi = headerValue.find(';');
  std::string_view pair = TrimSpacesAndTabs(headerValue.substr(0, semi));
  std::string_view attributes =
      semi == std::string_view::npos ? std::string_view{} : headerValue.substr(semi + 1);
  std::size_t eq = pair.find('=');
  if (eq == std::string_view::npos) return;
  std::string_view name = TrimSpacesAndTabs(pair.substr(0, eq));
  std::string_view value = TrimSpacesAndTabs(pair.substr(eq + 1));
  if (!ValidName(name) || !ValidValue(value)) return;

  const std::string key = UpperAscii(host);
  auto hostIt = byHost_.find(key);
  if (hostIt == byHost_.end()) {
    if (byHost_.size() >= kMaxHosts) return;
    hostIt = byHost_.emplace(key, std::vector<std::pair<std::string, std::string>>{}).first;
  }
  auto& cookies = hostIt->second;
  auto existing =
      std::find_if(cookies.begin(), cookies.end(), [&](const auto& c) { return c.first == name; });
  if (ExpiresNow(attributes)) {
    if (existing != cookies.end()) cookies.erase(existing);
    return;
  }
  if (existing != cookies.end()) {
    existing->second = std::string(value);
  } else if (cookies.size() < kMaxCookiesPerHost) {
    cookies.emplace_back(std::string(name), std::string(value));
  }
}

std::string CookieJar::CookieHeader(std::string_view host) const {
  auto it = byHost_.find(UpperAscii(host));
  if (it == byHost_.end()) return {};
  std::string out;
  for (const auto& [name, value] : it->second) {
    if (!out.empty()) out += "; ";
    out += name + "=" + value;
  }
  return out;
}

}  // namespace mvx
