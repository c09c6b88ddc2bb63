#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace mvx {

// The payload of every echo request: 56 printable bytes.
std::string_view EchoPayload();

// An ICMP echo request (type 8) with its checksum filled in.
std::string BuildEchoRequest(std::uint16_t identifier, std::uint16_t sequence);

// The Internet checksum of the bytes (ones' complement of the ones' complement sum).
std::uint16_t InternetChecksum(std::string_view bytes);

// True when the packet is the echo reply to our request. `withIpHeader` is set
// for raw sockets, which deliver the IPv4 header in front of the ICMP message;
// `checkIdentifier` is cleared for datagram sockets, where the kernel owns it.
bool IsEchoReply(std::string_view packet, bool withIpHeader, bool checkIdentifier,
                 std::uint16_t identifier, std::uint16_t sequence);

}  // namespace mvx
