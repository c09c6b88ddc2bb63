#include "vendorlink/icmp_echo.h"

namespace mvx {

namespace {

constexpr std::size_t kIcmpHeaderBytes = 8;
constexpr unsigned char kEchoRequest = 8;
constexpr unsigned char kEchoReply = 0;

std::uint16_t ReadU16(std::string_view bytes, std::size_t at) {
  return static_cast<std::uint16_t>((static_cast<unsigned char>(bytes[at]) << 8) |
                                    static_cast<unsigned char>(bytes[at + 1]));
}

void WriteU16(std::string& bytes, std::size_t at, std::uint16_t value) {
  bytes[at] = static_cast<char>(value >> 8);
  bytes[at + 1] = static_cast<char>(value & 0xFF);
}

}  // namespace

std::string_view EchoPayload() {
  static constexpr char kPayload[] = "abcdefghijklmnopqrstuvwabcdefghijklmnopqrstuvwabcdefghij";
  static_assert(sizeof kPayload - 1 == 56);
  return {kPayload, sizeof kPayload - 1};
}

std::uint16_t InternetChecksum(std::string_view bytes) {
  std::uint32_t sum = 0;
  std::size_t i = 0;
  for (; i + 1 < bytes.size(); i += 2) sum += ReadU16(bytes, i);
  if (i < bytes.size())
    sum += static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) << 8;
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<std::uint16_t>(~sum & 0xFFFF);
}

std::string BuildEchoRequest(std::uint16_t identifier, std::uint16_t sequence) {
  std::string packet(kIcmpHeaderBytes, '\0');
  packet[0] = static_cast<char>(kEchoRequest);
  WriteU16(packet, 4, identifier);
  WriteU16(packet, 6, sequence);
  packet.append(EchoPayload());
  WriteU16(packet, 2, InternetChecksum(packet));
  return packet;
}

bool IsEchoReply(std::string_view packet, bool withIpHeader, bool checkIdentifier,
                 std::uint16_t identifier, std::uint16_t sequence) {
  if (withIpHeader) {
    if (packet.empty()) return false;
    std::size_t headerBytes = (static_cast<unsigned char>(packet[0]) & 0x0F) * 4u;
    if (headerBytes < 20 || headerBytes > packet.size()) return false;
    packet.remove_prefix(headerBytes);
  }
  if (packet.size() < kIcmpHeaderBytes + EchoPayload().size()) return false;
  if (static_cast<unsigned char>(packet[0]) != kEchoReply || packet[1] != 0) return false;
  if (checkIdentifier && ReadU16(packet, 4) != identifier) return false;
  if (ReadU16(packet, 6) != sequence) return false;
  return packet.substr(kIcmpHeaderBytes, EchoPayload().size()) == EchoPayload();
}

}  // namespace mvx
