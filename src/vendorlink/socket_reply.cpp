#include "vendorlink/socket_reply.h"

#include "common/ansi_codec.h"

namespace mvx {

std::string SocketReplyText(std::string_view received) {
  return FromAnsi(received.substr(0, received.find('\0')));
}

bool IsHandshakeAccepted(std::string_view reply) {
  return reply != "BUSY" && reply.size() >= 7 && reply.substr(0, 6) == "012PNG" &&
         reply.substr(reply.size() - 6) == "013PNG" && reply[6] == '1';
}

}  // namespace mvx
