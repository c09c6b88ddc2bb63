#pragma once

#include <cstdint>
#include <string>

namespace mvx {

// Where the support server is and how long the link waits for it. The product
// uses DefaultLinkEndpoints(); tests point it at loopback servers.
struct LinkEndpoints {
  std::string primaryHost;
  std::string secondaryHost;
  std::uint16_t httpPort = 80;
  std::uint16_t linePort = 1126;
  int pingTimeoutMs = 3000;
  int httpConnectTimeoutMs = 3000;
  int httpReadTimeoutMs = 3000;
  // A host name lookup, once per operation.
  int resolveTimeoutMs = 3000;
  // Waits of SocketExchange and of SocketSend.
  int exchangeWaitMs = 10000;
  int sendWaitMs = 2000;
};

// The two host names chosen when the program was built, with the fixed ports and waits.
LinkEndpoints DefaultLinkEndpoints();

}  // namespace mvx
