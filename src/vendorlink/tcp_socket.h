#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace mvx {

// The platform's socket handle held as an integer (a file descriptor on POSIX,
// a SOCKET on Windows); -1 is no socket on both.
using NativeSocket = std::intptr_t;
inline constexpr NativeSocket kNoSocket = -1;

// kStopped: the stop flag the socket watches was set during the wait.
enum class WaitResult { kReady, kTimeout, kError, kStopped };

// One IPv4 TCP connection. Every wait takes an explicit limit; the handle is
// closed by the destructor on every path.
class TcpSocket {
 public:
  TcpSocket() = default;
  // Takes ownership of an already connected handle (a listener's accept).
  explicit TcpSocket(NativeSocket handle) : handle_(handle) {}
  ~TcpSocket();
  TcpSocket(TcpSocket&& other) noexcept;
  TcpSocket& operator=(TcpSocket&& other) noexcept;
  TcpSocket(const TcpSocket&) = delete;
  TcpSocket& operator=(const TcpSocket&) = delete;

  // Every later wait of this socket ends within a slice once `stop` is set
  // (null: waits run their full limit). The flag must outlive the socket.
  void StopOn(const std::atomic<bool>* stop) { stop_ = stop; }

  // Connects to a dotted IPv4 address; a host name is never looked up here
  // (the caller resolves it within its own bound). On failure the socket
  // stays closed and `error` says why.
  bool Connect(std::string_view host, std::uint16_t port, int timeoutMs, std::string& error);
  // Sends every byte; each wait for room in the send buffer is bounded by timeoutMs.
  bool SendAll(std::string_view bytes, int timeoutMs, std::string& error);
  WaitResult WaitReadable(int timeoutMs);
  // Bytes read (> 0), 0 when the peer closed, -1 on an error.
  long long Recv(char* buffer, std::size_t size);
  void Close() noexcept;

  bool IsOpen() const { return handle_ != kNoSocket; }

 private:
  NativeSocket handle_ = kNoSocket;
  const std::atomic<bool>* stop_ = nullptr;
};

// Starts the platform's sockets library once per process (Winsock); true on
// POSIX. Everything that opens a socket calls it first.
bool StartSocketLibrary();

}  // namespace mvx
