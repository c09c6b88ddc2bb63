#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <system_error>

#include "support/sql/server_socket.h"

namespace mvx::testing::sqlnet {
namespace {

SOCKET sock(Handle handle) { return static_cast<SOCKET>(handle); }

[[noreturn]] void throwLastError(const char* what) {
  throw std::system_error(::WSAGetLastError(), std::system_category(), what);
}

// Winsock stays started for the life of the test process.
void startWinsock() {
  static const bool started = [] {
    WSADATA data{};
    return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  if (!started) throw std::system_error(WSANOTINITIALISED, std::system_category(), "WSAStartup");
}

Handle handleOf(SOCKET s) { return s == INVALID_SOCKET ? kNone : static_cast<Handle>(s); }

}  // namespace

void CloseHandle(Handle handle) noexcept { ::closesocket(sock(handle)); }

UniqueHandle ListenLoopback(std::uint16_t& port) {
  startWinsock();
  UniqueHandle listener(handleOf(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)));
  if (!listener) throwLastError("socket");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(sock(listener.get()), reinterpret_cast<const sockaddr*>(&address), sizeof address) !=
      0) {
    throwLastError("bind");
  }
  if (::listen(sock(listener.get()), SOMAXCONN) != 0) throwLastError("listen");
  int length = sizeof address;
  if (::getsockname(sock(listener.get()), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    throwLastError("getsockname");
  }
  port = ntohs(address.sin_port);
  return listener;
}

UniqueHandle AcceptClient(Handle listener, int sendTimeoutSeconds) {
  UniqueHandle client(handleOf(::accept(sock(listener), nullptr, nullptr)));
  if (!client) return {};
  const BOOL on = TRUE;
  ::setsockopt(sock(client.get()), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on),
               sizeof on);
  const DWORD sendTimeoutMs = static_cast<DWORD>(sendTimeoutSeconds) * 1000;
  ::setsockopt(sock(client.get()), SOL_SOCKET, SO_SNDTIMEO,
               reinterpret_cast<const char*>(&sendTimeoutMs), sizeof sendTimeoutMs);
  return client;
}

// Winsock waits only on sockets, so the signal is a datagram a loopback UDP socket sends to
// itself; it is never read, so the socket stays readable for every later wait.
WakeSignal::WakeSignal() {
  startWinsock();
  read_ = UniqueHandle(handleOf(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP)));
  if (!read_) throwLastError("socket");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof address;
  if (::bind(sock(read_.get()), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::getsockname(sock(read_.get()), reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
      ::connect(sock(read_.get()), reinterpret_cast<const sockaddr*>(&address), sizeof address) !=
          0) {
    throwLastError("wake socket");
  }
}

void WakeSignal::Raise() noexcept {
  const char byte = 1;
  ::send(sock(read_.get()), &byte, 1, 0);
}

int WaitReadable(Handle a, Handle b, int timeoutMs, bool& aReady, bool& bReady) {
  fd_set readable;
  fd_set failed;
  FD_ZERO(&readable);
  FD_ZERO(&failed);
  FD_SET(sock(a), &readable);
  FD_SET(sock(b), &readable);
  FD_SET(sock(a), &failed);
  timeval limit{};
  limit.tv_sec = timeoutMs / 1000;
  limit.tv_usec = (timeoutMs % 1000) * 1000;
  const int r = ::select(0, &readable, nullptr, &failed, timeoutMs < 0 ? nullptr : &limit);
  aReady = r > 0 && (FD_ISSET(sock(a), &readable) || FD_ISSET(sock(a), &failed));
  bReady = r > 0 && FD_ISSET(sock(b), &readable);
  if (r < 0) return -1;
  return r == 0 ? 0 : 1;
}

long long ReceiveSome(Handle socket, void* into, std::size_t count) {
  const int n = ::recv(sock(socket), static_cast<char*>(into),
                       static_cast<int>(std::min<std::size_t>(count, 1 << 20)), 0);
  return n == SOCKET_ERROR ? -1 : n;
}

long long SendSome(Handle socket, const void* data, std::size_t count) {
  const int n = ::send(sock(socket), static_cast<const char*>(data),
                       static_cast<int>(std::min<std::size_t>(count, 1 << 20)), 0);
  return n == SOCKET_ERROR ? -1 : n;
}

bool ShouldRetry() {
  const int code = ::WSAGetLastError();
  return code == WSAEINTR || code == WSAEWOULDBLOCK;
}

void ShutdownBoth(Handle socket) noexcept { ::shutdown(sock(socket), SD_BOTH); }

}  // namespace mvx::testing::sqlnet
