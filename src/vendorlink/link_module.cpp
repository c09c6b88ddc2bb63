#include "vendorlink/link_module.h"

#include <utility>

namespace mvx {

namespace {

HttpClientOptions ClientOptionsFor(const LinkEndpoints& endpoints) {
  HttpClientOptions options;
  options.port = endpoints.httpPort;
  options.connectTimeoutMs = endpoints.httpConnectTimeoutMs;
  options.readTimeoutMs = endpoints.httpReadTimeoutMs;
  return options;
}

}  // namespace

TdMFunc::TdMFunc(const Clock& clock, TextLog& log, LinkEndpoints endpoints)
    : clock_(clock),
      log_(log),
      endpoints_(std::move(endpoints)),
      ownPinger_(std::make_unique<IcmpPinger>(endpoints_.pingTimeoutMs)),
      ping1_(*ownPinger_),
      idHttp1_(ClientOptionsFor(endpoints_)) {}

TdMFunc::TdMFunc(const Clock& clock, TextLog& log, LinkEndpoints endpoints, Pinger& pinger)
    : clock_(clock),
      log_(log),
      endpoints_(std::move(endpoints)),
      ping1_(pinger),
      idHttp1_(ClientOptionsFor(endpoints_)) {}

std::string TdMFunc::SupportUrl(std::string_view path) const {
  return "http://" + endpoints_.primaryHost + std::string(path);
}

}  // namespace mvx
