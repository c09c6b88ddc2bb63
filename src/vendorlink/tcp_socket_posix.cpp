#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "vendorlink/host_resolver.h"
#include "vendorlink/stop_slices.h"
#include "vendorlink/tcp_socket.h"

namespace mvx {

namespace {

using SteadyClock = std::chrono::steady_clock;

int RemainingMs(SteadyClock::time_point deadline) {
  auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

// poll() for one event in slices, restarted after signals, until the
// deadline or a stop request.
WaitResult PollFor(int fd, short events, int timeoutMs, const std::atomic<bool>* stop) {
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (StopRequested(stop)) return WaitResult::kStopped;
    const int left = RemainingMs(deadline);
    pollfd p{fd, events, 0};
    int rc = ::poll(&p, 1, stop != nullptr ? NextSliceMs(left) : left);
    if (rc > 0) {
      // Readability includes a closed or failed peer: recv() reports which.
      return WaitResult::kReady;
    }
    if (rc < 0 && errno != EINTR) return WaitResult::kError;
    if (RemainingMs(deadline) == 0) return WaitResult::kTimeout;
  }
}

bool AddressOf(std::string_view host, std::uint16_t port, sockaddr_in& out, std::string& error) {
  out = sockaddr_in{};
  out.sin_family = AF_INET;
  out.sin_port = htons(port);
  if (IsDottedAddress(host) &&
      ::inet_pton(AF_INET, std::string(host).c_str(), &out.sin_addr) == 1) {
    return true;
  }
  error = "Host not found: " + std::string(host);
  return false;
}

}  // namespace

bool StartSocketLibrary() { return true; }

void TcpSocket::Close() noexcept {
  if (handle_ != kNoSocket) {
    ::close(static_cast<int>(handle_));
    handle_ = kNoSocket;
  }
}

bool TcpSocket::Connect(std::string_view host, std::uint16_t port, int timeoutMs,
                        std::string& error) {
  Close();
  sockaddr_in addr{};
  if (!AddressOf(host, port, addr, error)) return false;
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) {
    error = std::string("Socket error: ") + std::strerror(errno);
    return false;
  }
  handle_ = fd;
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0) return true;
  if (errno != EINPROGRESS) {
    error = std::string("Connect failed: ") + std::strerror(errno);
    Close();
    return false;
  }
  WaitResult waited = PollFor(fd, POLLOUT, timeoutMs, stop_);
  if (waited != WaitResult::kReady) {
    error = waited == WaitResult::kTimeout   ? "Connect timed out"
            : waited == WaitResult::kStopped ? "Stopped"
                                             : "Connect failed";
    Close();
    return false;
  }
  int soError = 0;
  socklen_t len = sizeof soError;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &len) != 0 || soError != 0) {
    error = std::string("Connect failed: ") + std::strerror(soError != 0 ? soError : errno);
    Close();
    return false;
  }
  return true;
}

bool TcpSocket::SendAll(std::string_view bytes, int timeoutMs, std::string& error) {
  if (handle_ == kNoSocket) {
    error = "Not connected";
    return false;
  }
  const int fd = static_cast<int>(handle_);
  while (!bytes.empty()) {
    ssize_t sent = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(sent));
      continue;
    }
    if (sent < 0 && errno == EINTR) continue;
    if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      WaitResult waited = PollFor(fd, POLLOUT, timeoutMs, stop_);
      if (waited == WaitResult::kReady) continue;
      error = waited == WaitResult::kTimeout   ? "Write timed out"
              : waited == WaitResult::kStopped ? "Stopped"
                                               : "Write failed";
      return false;
    }
    error = std::string("Write failed: ") + std::strerror(errno);
    return false;
  }
  return true;
}

WaitResult TcpSocket::WaitReadable(int timeoutMs) {
  if (handle_ == kNoSocket) return WaitResult::kError;
  return PollFor(static_cast<int>(handle_), POLLIN, timeoutMs, stop_);
}

long long TcpSocket::Recv(char* buffer, std::size_t size) {
  if (handle_ == kNoSocket) return -1;
  for (;;) {
    ssize_t got = ::recv(static_cast<int>(handle_), buffer, size, 0);
    if (got >= 0) return got;
    if (errno == EINTR) continue;
    // Nothing there after all: report it as an error rather than a close.
    return -1;
  }
}

}  // namespace mvx
