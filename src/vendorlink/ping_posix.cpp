#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <random>
#include <stdexcept>

#include "vendorlink/host_resolver.h"
#include "vendorlink/icmp_echo.h"
#include "vendorlink/pinger.h"
#include "vendorlink/stop_slices.h"

namespace mvx {

namespace {

using SteadyClock = std::chrono::steady_clock;

// Owns one ICMP socket descriptor.
class IcmpSocket {
 public:
  explicit IcmpSocket(bool datagram)
      : fd_(::socket(AF_INET, (datagram ? SOCK_DGRAM : SOCK_RAW) | SOCK_CLOEXEC, IPPROTO_ICMP)) {}
  ~IcmpSocket() {
    if (fd_ >= 0) ::close(fd_);
  }
  IcmpSocket(const IcmpSocket&) = delete;
  IcmpSocket& operator=(const IcmpSocket&) = delete;
  int fd() const { return fd_; }
  bool ok() const { return fd_ >= 0; }

 private:
  int fd_;
};

}  // namespace

// Datagram ICMP sockets need no privilege where net.ipv4.ping_group_range
// admits the process's group; otherwise a raw socket (root or CAP_NET_RAW).
struct IcmpPinger::Impl {
  bool datagram = true;
  std::uint16_t identifier = 0;
  std::uint16_t sequence = 0;
};

IcmpPinger::IcmpPinger(int timeoutMs, const std::atomic<bool>* stop)
    : impl_(std::make_shared<Impl>()), timeoutMs_(timeoutMs), stop_(stop) {
  if (IcmpSocket(true).ok()) {
    impl_->datagram = true;
  } else if (IcmpSocket(false).ok()) {
    impl_->datagram = false;
  } else {
    throw std::runtime_error("Unable to get ping handle");
  }
  std::random_device seed;
  impl_->identifier = static_cast<std::uint16_t>(seed());
}

IcmpPinger::~IcmpPinger() = default;

std::string IcmpPinger::Method() const { return impl_->datagram ? "datagram" : "raw"; }

PingResult IcmpPinger::Ping(std::string_view host) {
  PingResult result;
  const std::string address(host);
  in_addr target{};
  if (!IsDottedAddress(address) || ::inet_pton(AF_INET, address.c_str(), &target) != 1) {
    return result;
  }

  IcmpSocket sock(impl_->datagram);
  if (!sock.ok()) return result;
  const int ttl = kTimeToLive;
  ::setsockopt(sock.fd(), IPPROTO_IP, IP_TTL, &ttl, sizeof ttl);
  // No IP header flags: left alone, Linux marks the echo "don't fragment".
  const int noDontFragment = IP_PMTUDISC_DONT;
  ::setsockopt(sock.fd(), IPPROTO_IP, IP_MTU_DISCOVER, &noDontFragment, sizeof noDontFragment);

  const std::uint16_t sequence = ++impl_->sequence;
  const std::string request = BuildEchoRequest(impl_->identifier, sequence);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr = target;
  if (::sendto(sock.fd(), request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&to),
               sizeof to) != static_cast<ssize_t>(request.size())) {
    return result;
  }

  // A raw socket sees every ICMP message of the host (our own request on
  // loopback too), so wait for the one reply that matches.
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeoutMs_);
  char buffer[1500];
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now())
                    .count();
    if (left <= 0 || StopRequested(stop_)) return result;
    pollfd p{sock.fd(), POLLIN, 0};
    int rc = ::poll(&p, 1, NextSliceMs(static_cast<int>(left)));
    if (rc < 0 && errno == EINTR) continue;
    if (rc == 0) continue;
    if (rc < 0) return result;
    sockaddr_in from{};
    socklen_t fromLen = sizeof from;
    ssize_t got = ::recvfrom(sock.fd(), buffer, sizeof buffer, 0,
                             reinterpret_cast<sockaddr*>(&from), &fromLen);
    if (got < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return result;
    }
    if (from.sin_addr.s_addr != target.s_addr) continue;
    if (IsEchoReply(std::string_view(buffer, static_cast<std::size_t>(got)), !impl_->datagram,
                    !impl_->datagram, impl_->identifier, sequence)) {
      result.answered = true;
      result.address = address;
      return result;
    }
  }
}

}  // namespace mvx
