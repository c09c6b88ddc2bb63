#include <winsock2.h>
#include <ws2tcpip.h>

#include <stdexcept>

#include "support/http/tcp_listener.h"

namespace mvx::testing {

namespace {

SOCKET AsSocket(NativeSocket handle) { return static_cast<SOCKET>(handle); }

}  // namespace

TcpListener::TcpListener(std::string_view address, std::uint16_t port) {
  if (!StartSocketLibrary()) throw std::runtime_error("Winsock did not start");
  const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) throw std::runtime_error("socket failed");
  handle_ = static_cast<NativeSocket>(s);
  // Exclusive use: on Windows SO_REUSEADDR would let a second listener steal the port.
  const BOOL on = TRUE;
  ::setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on), sizeof on);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  const std::string text(address);
  if (::inet_pton(AF_INET, text.c_str(), &addr.sin_addr) != 1 ||
      ::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(s, 16) != 0) {
    const int code = ::WSAGetLastError();
    ::closesocket(s);
    handle_ = kNoSocket;
    throw std::runtime_error("cannot listen on " + text + ": error " + std::to_string(code));
  }
  int len = sizeof addr;
  ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len);
  port_ = ntohs(addr.sin_port);
}

TcpListener::~TcpListener() {
  if (handle_ != kNoSocket) ::closesocket(AsSocket(handle_));
}

std::optional<TcpSocket> TcpListener::Accept(int timeoutMs) {
  const SOCKET s = AsSocket(handle_);
  fd_set ready;
  FD_ZERO(&ready);
  FD_SET(s, &ready);
  timeval limit{};
  limit.tv_sec = timeoutMs / 1000;
  limit.tv_usec = (timeoutMs % 1000) * 1000;
  if (::select(0, &ready, nullptr, nullptr, &limit) <= 0) return std::nullopt;
  const SOCKET client = ::accept(s, nullptr, nullptr);
  if (client == INVALID_SOCKET) return std::nullopt;
  // The connection is used like the agent's own sockets: non-blocking with bounded waits.
  u_long nonBlocking = 1;
  ::ioctlsocket(client, FIONBIO, &nonBlocking);
  return TcpSocket(static_cast<NativeSocket>(client));
}

}  // namespace mvx::testing
