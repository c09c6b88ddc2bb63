#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

namespace mvx::testing::sqlnet {

// A socket (or, for the wake signal on POSIX, a pipe end) held as an integer; -1 is none.
using Handle = std::intptr_t;
inline constexpr Handle kNone = -1;

void CloseHandle(Handle handle) noexcept;

class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(Handle handle) : handle_(handle) {}
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(std::exchange(other.handle_, kNone)) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) {
      reset();
      handle_ = std::exchange(other.handle_, kNone);
    }
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  ~UniqueHandle() { reset(); }

  Handle get() const { return handle_; }
  explicit operator bool() const { return handle_ != kNone; }
  void reset() noexcept {
    if (handle_ != kNone) CloseHandle(handle_);
    handle_ = kNone;
  }

 private:
  Handle handle_ = kNone;
};

// Listens on 127.0.0.1 on a free port; throws std::system_error.
UniqueHandle ListenLoopback(std::uint16_t& port);
// The next client, with Nagle off and sends bounded by sendTimeoutSeconds; empty on failure.
UniqueHandle AcceptClient(Handle listener, int sendTimeoutSeconds);

// A signal every waiting thread sees once it is raised, and keeps seeing.
class WakeSignal {
 public:
  WakeSignal();  // throws std::system_error
  void Raise() noexcept;
  Handle Watch() const { return read_.get(); }

 private:
  UniqueHandle read_;
  UniqueHandle write_;
};

// Waits until `a` or `b` is readable (or closed). -1 on an error, 0 on timeout, 1 otherwise
// with the flags set. A negative timeout waits without limit.
int WaitReadable(Handle a, Handle b, int timeoutMs, bool& aReady, bool& bReady);
// Bytes moved (> 0), 0 when the peer closed (receive only), -1 on an error.
long long ReceiveSome(Handle socket, void* into, std::size_t count);
long long SendSome(Handle socket, const void* data, std::size_t count);
// The last call failed only because it was interrupted or would block: try again.
bool ShouldRetry();
void ShutdownBoth(Handle socket) noexcept;

}  // namespace mvx::testing::sqlnet
