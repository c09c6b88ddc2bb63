#include <winsock2.h>
#include <ws2tcpip.h>

// icmpapi.h needs the types of iphlpapi.h, which needs winsock2.h first.
#include <iphlpapi.h>

#include <icmpapi.h>

#include <optional>
#include <stdexcept>
#include <vector>

#include "vendorlink/bounded_call.h"
#include "vendorlink/host_resolver.h"
#include "vendorlink/icmp_echo.h"
#include "vendorlink/pinger.h"
#include "vendorlink/tcp_socket.h"

namespace mvx {

struct IcmpPinger::Impl {
  HANDLE handle = INVALID_HANDLE_VALUE;
  ~Impl() {
    if (handle != INVALID_HANDLE_VALUE) ::IcmpCloseHandle(handle);
  }
};

IcmpPinger::IcmpPinger(int timeoutMs, const std::atomic<bool>* stop)
    : impl_(std::make_shared<Impl>()), timeoutMs_(timeoutMs), stop_(stop) {
  if (!StartSocketLibrary()) throw std::runtime_error("Error initialising Winsock");
  impl_->handle = ::IcmpCreateFile();
  if (impl_->handle == INVALID_HANDLE_VALUE) throw std::runtime_error("Unable to get ping handle");
}

IcmpPinger::~IcmpPinger() = default;

std::string IcmpPinger::Method() const { return "IcmpSendEcho"; }

PingResult IcmpPinger::Ping(std::string_view host) {
  PingResult result;
  const std::string address(host);
  in_addr target{};
  if (!IsDottedAddress(address) || ::inet_pton(AF_INET, address.c_str(), &target) != 1) {
    return result;
  }
  // IcmpSendEcho cannot be interrupted: it runs on a helper that holds the
  // handle and its own buffers, so a stop may leave it behind.
  const int timeoutMs = timeoutMs_;
  const std::optional<bool> answered = CallWithBound<bool>(
      [impl = impl_, to = target.s_addr, timeoutMs] {
        std::string payload(EchoPayload());
        IP_OPTION_INFORMATION options{};
        options.Ttl = kTimeToLive;
        options.Flags = 0;
        // Room for one reply, its data and an ICMP error's worth of extra bytes.
        std::vector<char> reply(sizeof(ICMP_ECHO_REPLY) + payload.size() + 8 + 64);
        const DWORD replies = ::IcmpSendEcho(
            impl->handle, to, payload.data(), static_cast<WORD>(payload.size()), &options,
            reply.data(), static_cast<DWORD>(reply.size()), static_cast<DWORD>(timeoutMs));
        const auto* echo = reinterpret_cast<const ICMP_ECHO_REPLY*>(reply.data());
        return replies == 1 && echo->Status == IP_SUCCESS;
      },
      // The echo's own timeout ends the helper; the margin only covers its start.
      timeoutMs_ + 500, stop_);
  if (answered.value_or(false)) {
    result.answered = true;
    result.address = address;
  }
  return result;
}

}  // namespace mvx
