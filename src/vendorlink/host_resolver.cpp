#include "vendorlink/host_resolver.h"

#include "common/host_info.h"
#include "vendorlink/bounded_call.h"

namespace mvx {

bool IsDottedAddress(std::string_view text) {
  int parts = 0;
  while (true) {
    std::size_t digits = 0;
    int value = 0;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9' && digits < 3) {
      value = value * 10 + (text[digits] - '0');
      ++digits;
    }
    if (digits == 0 || value > 255) return false;
    text.remove_prefix(digits);
    if (++parts == 4) return text.empty();
    if (text.empty() || text.front() != '.') return false;
    text.remove_prefix(1);
  }
}

HostResolver::HostResolver(int limitMs, const std::atomic<bool>* stop, NameLookup lookup)
    : limitMs_(limitMs), stop_(stop), lookup_(std::move(lookup)) {
  if (!lookup_) lookup_ = [](const std::string& name) { return ResolveHostAddress(name); };
}

std::string HostResolver::Resolve(std::string_view host) {
  if (IsDottedAddress(host)) return std::string(host);
  if (host.empty() || StopRequested(stop_)) return {};
  if (const auto known = answers_.find(host); known != answers_.end()) return known->second;
  std::string address =
      CallWithBound<std::string>(
          [lookup = lookup_, name = std::string(host)] { return lookup(name); }, limitMs_, stop_)
          .value_or(std::string());
  // Whatever the system answers, only an address is ever used.
  if (!IsDottedAddress(address)) address.clear();
  // A lookup cut short by a stop is not an answer to keep.
  if (!StopRequested(stop_)) answers_.emplace(std::string(host), address);
  return address;
}

}  // namespace mvx
