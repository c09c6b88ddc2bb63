#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "support/http/tcp_listener.h"

namespace mvx::testing {

TcpListener::TcpListener(std::string_view address, std::uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error("socket failed");
  handle_ = fd;
  int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  const std::string text(address);
  if (::inet_pton(AF_INET, text.c_str(), &addr.sin_addr) != 1 ||
      ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 16) != 0) {
    std::string why = std::strerror(errno);
    ::close(fd);
    handle_ = kNoSocket;
    throw std::runtime_error("cannot listen on " + text + ": " + why);
  }
  socklen_t len = sizeof addr;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  port_ = ntohs(addr.sin_port);
}

TcpListener::~TcpListener() {
  if (handle_ != kNoSocket) ::close(static_cast<int>(handle_));
}

std::optional<TcpSocket> TcpListener::Accept(int timeoutMs) {
  pollfd p{static_cast<int>(handle_), POLLIN, 0};
  if (::poll(&p, 1, timeoutMs) <= 0) return std::nullopt;
  int fd = ::accept4(static_cast<int>(handle_), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
  if (fd < 0) return std::nullopt;
  return TcpSocket(fd);
}

}  // namespace mvx::testing
