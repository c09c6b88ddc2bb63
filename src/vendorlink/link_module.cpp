#include "vendorlink/link_module.h"

#include <utility>

#include "vendorlink/link_operation.h"

namespace mvx {

namespace {

HttpClientOptions ClientOptionsFor(const LinkEndpoints& endpoints, const std::atomic<bool>* stop,
                                   HostResolver& resolver) {
  HttpClientOptions options;
  options.port = endpoints.httpPort;
  options.connectTimeoutMs = endpoints.httpConnectTimeoutMs;
  options.readTimeoutMs = endpoints.httpReadTimeoutMs;
  options.stop = stop;
  options.resolver = &resolver;
  return options;
}

}  // namespace

TdMFunc::TdMFunc(const Clock& clock, TextLog& log, LinkEndpoints endpoints,
                 const std::atomic<bool>* stop)
    : clock_(clock),
      log_(log),
      endpoints_(std::move(endpoints)),
      stop_(stop),
      resolver_(endpoints_.resolveTimeoutMs, stop),
      ownPinger_(std::make_unique<IcmpPinger>(endpoints_.pingTimeoutMs, stop)),
      ping1_(*ownPinger_),
      idHttp1_(ClientOptionsFor(endpoints_, stop, resolver_)) {}

TdMFunc::TdMFunc(const Clock& clock, TextLog& log, LinkEndpoints endpoints, Pinger& pinger,
                 const std::atomic<bool>* stop)
    : clock_(clock),
      log_(log),
      endpoints_(std::move(endpoints)),
      stop_(stop),
      resolver_(endpoints_.resolveTimeoutMs, stop),
      ping1_(pinger),
      idHttp1_(ClientOptionsFor(endpoints_, stop, resolver_)) {}

std::string TdMFunc::SupportUrl(std::string_view path) const {
  return "http://" + endpoints_.primaryHost + std::string(path);
}

void TdMFunc::SetNameLookup(NameLookup lookup) {
  resolver_ = HostResolver(endpoints_.resolveTimeoutMs, stop_, std::move(lookup));
}

}  // namespace mvx
