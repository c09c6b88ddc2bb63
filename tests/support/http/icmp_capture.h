#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "vendorlink/tcp_socket.h"

namespace mvx::testing {

// What the IPv4 header of an outgoing ICMP echo request said.
struct CapturedEchoRequest {
  int ttl = 0;
  int flags = 0;  // the three flag bits of the IPv4 header (reserved, DF, MF)
  std::size_t dataBytes = 0;
};

// Watches the echo requests that leave for loopback addresses; needs a raw
// ICMP socket, so the constructor throws std::runtime_error without one.
class IcmpCapture {
 public:
  IcmpCapture();
  ~IcmpCapture();
  IcmpCapture(const IcmpCapture&) = delete;
  IcmpCapture& operator=(const IcmpCapture&) = delete;

  // The first echo request to the dotted address seen within the wait.
  std::optional<CapturedEchoRequest> WaitForRequest(std::string_view address, int timeoutMs);

 private:
  NativeSocket handle_ = kNoSocket;
};

}  // namespace mvx::testing
