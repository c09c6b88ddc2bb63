#include <array>
#include <cstring>
#include <exception>

#include "common/ansi_codec.h"
#include "vendorlink/host_resolver.h"
#include "vendorlink/link_module.h"
#include "vendorlink/socket_reply.h"
#include "vendorlink/tcp_socket.h"

namespace mvx {

namespace {

constexpr std::string_view kHandshake = "012PNG*013PNG";

// Opens the connection and writes the line; false when no connection opens.
// Only a dotted IPv4 address is ever connected to: CurrentHostAddress may hold
// the sockets error text, which must not turn into a name lookup.
bool ConnectAndWrite(TcpSocket& socket, const std::string& address, std::uint16_t port,
                     std::string_view message, int waitMs) {
  std::string error;
  if (!IsDottedAddress(address) || !socket.Connect(address, port, waitMs, error)) return false;
  std::string line = ToAnsi(message);
  line += "\r\n";
  if (!socket.SendAll(line, waitMs, error)) {
    socket.Close();
    throw SocketWriteError("Socket write to " + address + " failed: " + error);
  }
  return true;
}

}  // namespace

SocketExchangeResult TdMFunc::SocketExchange(std::string_view message, std::uint16_t port) {
  SocketExchangeResult result;
  TcpSocket socket;
  socket.StopOn(stop_);
  if (!ConnectAndWrite(socket, currentHostAddress_, port, message, endpoints_.exchangeWaitMs)) {
    result.status = kSocketNoConnection;
    return result;
  }
  if (socket.WaitReadable(endpoints_.exchangeWaitMs) != WaitResult::kReady) {
    result.status = kSocketNoReply;
    return result;
  }
  // One read of whatever has arrived; a reset reads as an empty reply.
  std::array<char, 8192> buffer;
  long long got = socket.Recv(buffer.data(), buffer.size());
  result.status = kSocketDone;
  result.reply = SocketReplyText({buffer.data(), got > 0 ? static_cast<std::size_t>(got) : 0});
  return result;
}

int TdMFunc::SocketSend(std::string_view message, std::uint16_t port) {
  TcpSocket socket;
  socket.StopOn(stop_);
  if (!ConnectAndWrite(socket, currentHostAddress_, port, message, endpoints_.sendWaitMs)) {
    return kSocketNoConnection;
  }
  return kSocketDone;
}

bool TdMFunc::ProbeSocketLink(std::uint16_t port) {
  SocketExchangeResult exchange;
  try {
    exchange = SocketExchange(kHandshake, port);
  } catch (const std::exception&) {
    // A failed write is a failed handshake: the service start must not end over it.
    return false;
  }
  return exchange.status == kSocketDone && IsHandshakeAccepted(exchange.reply);
}

}  // namespace mvx
