#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <string>
#include <string_view>

namespace mvx {

// True for four dot-separated decimal numbers of at most 255: an address that
// is used as it is and never looked up.
bool IsDottedAddress(std::string_view text);

// Looks a host name up; ResolveHostAddress unless a test slows it down.
using NameLookup = std::function<std::string(const std::string& name)>;

// Resolves the support host names for the link module. An operation (a link
// check, a report, a download) looks each name up at most once and uses the
// same answer for its ping and its connection. A lookup runs on a helper
// thread and is waited for within the link's limit; a stop request ends the
// wait, and a late answer is dropped.
class HostResolver {
 public:
  HostResolver(int limitMs, const std::atomic<bool>* stop, NameLookup lookup = {});

  // The dotted address of `host`, empty when the name is unknown, its lookup
  // was late or a stop came. A dotted address comes back unchanged.
  std::string Resolve(std::string_view host);
  // Begins a new operation: names are looked up afresh.
  void Forget() { answers_.clear(); }

 private:
  int limitMs_;
  const std::atomic<bool>* stop_;
  NameLookup lookup_;
  std::map<std::string, std::string, std::less<>> answers_;
};

}  // namespace mvx
