#include <exception>

#include "vendorlink/link_module.h"
#include "vendorlink/link_operation.h"

namespace mvx {

namespace {

constexpr std::string_view kValidServerPath = "/isValidServer.php";

}  // namespace

// A host whose name does not resolve in time counts as silent; the address
// the echo answered from is the one the socket transport then uses.
std::string TdMFunc::SelectSupportHost() {
  const Operation operation(*this);
  for (const std::string* host : {&endpoints_.primaryHost, &endpoints_.secondaryHost}) {
    const std::string address = resolver_.Resolve(*host);
    if (address.empty()) continue;
    PingResult answer = ping1_.Ping(address);
    if (answer.answered) return answer.address;
  }
  return {};
}

bool TdMFunc::PingSupportHost() {
  const Operation operation(*this);
  for (const std::string* host : {&endpoints_.primaryHost, &endpoints_.secondaryHost}) {
    const std::string address = resolver_.Resolve(*host);
    if (!address.empty() && ping1_.Ping(address).answered) {
      currentHostAddress_ = address;
      return true;
    }
  }
  return false;
}

bool TdMFunc::CheckValidServer() {
  const Operation operation(*this);
  try {
    return idHttp1_.HttpGetText(SupportUrl(kValidServerPath)) == "1";
  } catch (const std::exception&) {
    return false;
  }
}

bool TdMFunc::CheckLink() {
  const Operation operation(*this);
  if (transportMode_ != "2") {
    currentHostAddress_ = SelectSupportHost();
    linkFlag_ = !currentHostAddress_.empty() && ProbeSocketLink(endpoints_.linePort);
  } else {
    linkFlag_ = CheckValidServer();
  }
  return linkFlag_;
}

}  // namespace mvx
