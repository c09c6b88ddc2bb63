#include <stdexcept>

#include "support/http/icmp_capture.h"

namespace mvx::testing {

// Windows gives no raw socket that sees outgoing echo requests (and Wine maps raw sockets to
// the host's, which an ordinary user may not open), so the wire check skips there.
IcmpCapture::IcmpCapture() { throw std::runtime_error("no capture of outgoing ICMP on Windows"); }

IcmpCapture::~IcmpCapture() = default;

std::optional<CapturedEchoRequest> IcmpCapture::WaitForRequest(std::string_view, int) {
  return std::nullopt;
}

}  // namespace mvx::testing
