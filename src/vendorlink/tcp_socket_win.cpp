#include <winsock2.h>
#include <ws2tcpip.h>

#include <chrono>
#include <string>

#include "vendorlink/host_resolver.h"
#include "vendorlink/stop_slices.h"
#include "vendorlink/tcp_socket.h"

namespace mvx {

namespace {

using SteadyClock = std::chrono::steady_clock;

// Winsock stays started for the life of the process.
class WinsockSession {
 public:
  WinsockSession() {
    WSADATA data{};
    started_ = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }
  ~WinsockSession() {
    if (started_) ::WSACleanup();
  }
  WinsockSession(const WinsockSession&) = delete;
  WinsockSession& operator=(const WinsockSession&) = delete;
  bool started() const { return started_; }

 private:
  bool started_ = false;
};

SOCKET AsSocket(NativeSocket handle) { return static_cast<SOCKET>(handle); }

std::string ErrorText(const char* what, int code) {
  return std::string(what) + " (error " + std::to_string(code) + ")";
}

int RemainingMs(SteadyClock::time_point deadline) {
  auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

// select() for one socket in slices, until the deadline or a stop request;
// writable also covers a failed connect (except set).
WaitResult SelectFor(SOCKET s, bool forWrite, int timeoutMs, const std::atomic<bool>* stop) {
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (StopRequested(stop)) return WaitResult::kStopped;
    const int left = RemainingMs(deadline);
    const int wait = stop != nullptr ? NextSliceMs(left) : left;
    fd_set main;
    fd_set failed;
    FD_ZERO(&main);
    FD_ZERO(&failed);
    FD_SET(s, &main);
    FD_SET(s, &failed);
    timeval tv{};
    tv.tv_sec = wait / 1000;
    tv.tv_usec = (wait % 1000) * 1000;
    int rc = ::select(0, forWrite ? nullptr : &main, forWrite ? &main : nullptr, &failed, &tv);
    if (rc > 0) return WaitResult::kReady;
    if (rc < 0) return WaitResult::kError;
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

bool StartSocketLibrary() {
  static WinsockSession session;
  return session.started();
}

void TcpSocket::Close() noexcept {
  if (handle_ != kNoSocket) {
    ::closesocket(AsSocket(handle_));
    handle_ = kNoSocket;
  }
}

bool TcpSocket::Connect(std::string_view host, std::uint16_t port, int timeoutMs,
                        std::string& error) {
  Close();
  if (!StartSocketLibrary()) {
    error = "Error initialising Winsock";
    return false;
  }
  sockaddr_in addr{};
  if (!AddressOf(host, port, addr, error)) return false;
  SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) {
    error = ErrorText("Socket error", ::WSAGetLastError());
    return false;
  }
  handle_ = static_cast<NativeSocket>(s);
  u_long nonBlocking = 1;
  ::ioctlsocket(s, FIONBIO, &nonBlocking);
  if (::connect(s, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0) return true;
  int code = ::WSAGetLastError();
  if (code != WSAEWOULDBLOCK) {
    error = ErrorText("Connect failed", code);
    Close();
    return false;
  }
  WaitResult waited = SelectFor(s, true, timeoutMs, stop_);
  int soError = 0;
  int len = sizeof soError;
  if (waited != WaitResult::kReady ||
      ::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError), &len) != 0 ||
      soError != 0) {
    error = waited == WaitResult::kTimeout   ? std::string("Connect timed out")
            : waited == WaitResult::kStopped ? std::string("Stopped")
                                             : ErrorText("Connect failed", soError);
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
  SOCKET s = AsSocket(handle_);
  while (!bytes.empty()) {
    int piece = bytes.size() > 65536 ? 65536 : static_cast<int>(bytes.size());
    int sent = ::send(s, bytes.data(), piece, 0);
    if (sent > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(sent));
      continue;
    }
    int code = ::WSAGetLastError();
    if (sent == SOCKET_ERROR && code == WSAEWOULDBLOCK) {
      WaitResult waited = SelectFor(s, true, timeoutMs, stop_);
      if (waited == WaitResult::kReady) continue;
      error = waited == WaitResult::kTimeout   ? "Write timed out"
              : waited == WaitResult::kStopped ? "Stopped"
                                               : "Write failed";
      return false;
    }
    error = ErrorText("Write failed", code);
    return false;
  }
  return true;
}

WaitResult TcpSocket::WaitReadable(int timeoutMs) {
  if (handle_ == kNoSocket) return WaitResult::kError;
  return SelectFor(AsSocket(handle_), false, timeoutMs, stop_);
}

long long TcpSocket::Recv(char* buffer, std::size_t size) {
  if (handle_ == kNoSocket) return -1;
  int want = size > 65536 ? 65536 : static_cast<int>(size);
  int got = ::recv(AsSocket(handle_), buffer, want, 0);
  return got == SOCKET_ERROR ? -1 : got;
}

}  // namespace mvx
