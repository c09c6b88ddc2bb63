#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <system_error>

#include "support/sql/server_socket.h"

namespace mvx::testing::sqlnet {
namespace {

[[noreturn]] void throwErrno(const char* what) {
  throw std::system_error(errno, std::generic_category(), what);
}

int fd(Handle handle) { return static_cast<int>(handle); }

}  // namespace

void CloseHandle(Handle handle) noexcept { ::close(fd(handle)); }

UniqueHandle ListenLoopback(std::uint16_t& port) {
  UniqueHandle listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!listener) throwErrno("socket");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  if (::bind(fd(listener.get()), reinterpret_cast<const sockaddr*>(&address), sizeof address) !=
      0) {
    throwErrno("bind");
  }
  if (::listen(fd(listener.get()), SOMAXCONN) != 0) throwErrno("listen");
  socklen_t length = sizeof address;
  if (::getsockname(fd(listener.get()), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    throwErrno("getsockname");
  }
  port = ntohs(address.sin_port);
  return listener;
}

UniqueHandle AcceptClient(Handle listener, int sendTimeoutSeconds) {
  const int client = ::accept4(fd(listener), nullptr, nullptr, SOCK_CLOEXEC);
  if (client < 0) return {};
  const int on = 1;
  ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  const timeval sendTimeout{sendTimeoutSeconds, 0};
  ::setsockopt(client, SOL_SOCKET, SO_SNDTIMEO, &sendTimeout, sizeof sendTimeout);
  return UniqueHandle(client);
}

WakeSignal::WakeSignal() {
  std::array<int, 2> pipeFds{};
  if (::pipe2(pipeFds.data(), O_CLOEXEC) != 0) throwErrno("pipe2");
  read_ = UniqueHandle(pipeFds[0]);
  write_ = UniqueHandle(pipeFds[1]);
}

void WakeSignal::Raise() noexcept {
  const char byte = 1;
  while (::write(fd(write_.get()), &byte, 1) < 0 && errno == EINTR) {
  }
}

int WaitReadable(Handle a, Handle b, int timeoutMs, bool& aReady, bool& bReady) {
  std::array<pollfd, 2> fds{pollfd{fd(a), POLLIN, 0}, pollfd{fd(b), POLLIN, 0}};
  const int r = ::poll(fds.data(), fds.size(), timeoutMs < 0 ? -1 : timeoutMs);
  aReady = fds[0].revents != 0;
  bReady = fds[1].revents != 0;
  if (r < 0) return errno == EINTR ? 0 : -1;
  return r == 0 ? 0 : 1;
}

long long ReceiveSome(Handle socket, void* into, std::size_t count) {
  return ::recv(fd(socket), into, count, 0);
}

long long SendSome(Handle socket, const void* data, std::size_t count) {
  return ::send(fd(socket), data, count, MSG_NOSIGNAL);
}

bool ShouldRetry() { return errno == EINTR || errno == EAGAIN; }

void ShutdownBoth(Handle socket) noexcept { ::shutdown(fd(socket), SHUT_RDWR); }

}  // namespace mvx::testing::sqlnet
