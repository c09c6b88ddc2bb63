#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "vendorlink/tcp_socket.h"

namespace mvx::testing {

// A listening IPv4 TCP socket on a loopback address for the test servers.
class TcpListener {
 public:
  // Port 0 takes a free port. Throws std::runtime_error when it can't listen.
  TcpListener(std::string_view address, std::uint16_t port);
  ~TcpListener();
  TcpListener(const TcpListener&) = delete;
  TcpListener& operator=(const TcpListener&) = delete;

  std::uint16_t Port() const { return port_; }
  // A connection that arrived within the wait, if any.
  std::optional<TcpSocket> Accept(int timeoutMs);

 private:
  NativeSocket handle_ = kNoSocket;
  std::uint16_t port_ = 0;
};

}  // namespace mvx::testing
