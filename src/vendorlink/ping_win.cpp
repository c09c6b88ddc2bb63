#include <winsock2.h>
#include <ws2tcpip.h>

// icmpapi.h needs the types of iphlpapi.h, which needs winsock2.h first.
#include <iphlpapi.h>

#include <icmpapi.h>

#include <stdexcept>
#include <vector>

#include "common/host_info.h"
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

IcmpPinger::IcmpPinger(int timeoutMs) : impl_(std::make_unique<Impl>()), timeoutMs_(timeoutMs) {
  if (!StartSocketLibrary()) throw std::runtime_error("Error initialising Winsock");
  impl_->handle = ::IcmpCreateFile();
  if (impl_->handle == INVALID_HANDLE_VALUE) throw std::runtime_error("Unable to get ping handle");
}

IcmpPinger::~IcmpPinger() = default;

std::string IcmpPinger::Method() const { return "IcmpSendEcho"; }

PingResult IcmpPinger::Ping(std::string_view host) {
  PingResult result;
  const std::string address = ResolveHostAddress(host);
  in_addr target{};
  if (address.empty() || ::inet_pton(AF_INET, address.c_str(), &target) != 1) return result;

  std::string payload(EchoPayload());
  IP_OPTION_INFORMATION options{};
  options.Ttl = kTimeToLive;
  options.Flags = 0;
  // Room for one reply, its data and an ICMP error's worth of extra bytes.
  std::vector<char> reply(sizeof(ICMP_ECHO_REPLY) + payload.size() + 8 + 64);
  DWORD replies = ::IcmpSendEcho(impl_->handle, target.s_addr, payload.data(),
                                 static_cast<WORD>(payload.size()), &options, reply.data(),
                                 static_cast<DWORD>(reply.size()), static_cast<DWORD>(timeoutMs_));
  const auto* echo = reinterpret_cast<const ICMP_ECHO_REPLY*>(reply.data());
  if (replies == 1 && echo->Status == IP_SUCCESS) {
    result.answered = true;
    result.address = address;
  }
  return result;
}

}  // namespace mvx
