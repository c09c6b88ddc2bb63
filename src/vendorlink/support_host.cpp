#include <exception>

#include "common/host_info.h"
#include "vendorlink/link_module.h"

namespace mvx {

namespace {

constexpr std::string_view kValidServerPath = "/isValidServer.php";

}  // namespace

std::string TdMFunc::SelectSupportHost() {
  PingResult primary = ping1_.Ping(endpoints_.primaryHost);
  if (primary.answered) return primary.address;
  PingResult secondary = ping1_.Ping(endpoints_.secondaryHost);
  if (secondary.answered) return secondary.address;
  return {};
}

bool TdMFunc::PingSupportHost() {
  if (ping1_.Ping(endpoints_.primaryHost).answered) {
    currentHostAddress_ = ResolveHostAddress(endpoints_.primaryHost);
    return true;
  }
  if (ping1_.Ping(endpoints_.secondaryHost).answered) {
    currentHostAddress_ = ResolveHostAddress(endpoints_.secondaryHost);
    return true;
  }
  return false;
}

bool TdMFunc::CheckValidServer() {
  try {
    return idHttp1_.HttpGetText(SupportUrl(kValidServerPath)) == "1";
  } catch (const std::exception&) {
    return false;
  }
}

bool TdMFunc::CheckLink() {
  if (transportMode_ != "2") {
    currentHostAddress_ = SelectSupportHost();
    linkFlag_ = !currentHostAddress_.empty() && ProbeSocketLink(endpoints_.linePort);
  } else {
    linkFlag_ = CheckValidServer();
  }
  return linkFlag_;
}

}  // namespace mvx
