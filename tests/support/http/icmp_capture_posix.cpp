#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>

#include "support/http/icmp_capture.h"

namespace mvx::testing {

IcmpCapture::IcmpCapture() {
  const int fd = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
  if (fd < 0) throw std::runtime_error(std::string("no raw ICMP socket: ") + std::strerror(errno));
  handle_ = fd;
}

IcmpCapture::~IcmpCapture() { ::close(static_cast<int>(handle_)); }

std::optional<CapturedEchoRequest> IcmpCapture::WaitForRequest(std::string_view address,
                                                               int timeoutMs) {
  in_addr wanted{};
  if (::inet_pton(AF_INET, std::string(address).c_str(), &wanted) != 1) return std::nullopt;
  const int fd = static_cast<int>(handle_);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  unsigned char packet[2048];
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0) return std::nullopt;
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
    const ssize_t got = ::recv(fd, packet, sizeof packet, 0);
    if (got < 20) continue;
    const std::size_t headerBytes = (packet[0] & 0x0Fu) * 4u;
    if (headerBytes < 20 || static_cast<std::size_t>(got) < headerBytes + 8) continue;
    if (packet[headerBytes] != 8 || std::memcmp(packet + 16, &wanted, 4) != 0) continue;
    CapturedEchoRequest request;
    request.ttl = packet[8];
    request.flags = packet[6] >> 5;
    request.dataBytes = static_cast<std::size_t>(got) - headerBytes - 8;
    return request;
  }
}

}  // namespace mvx::testing
