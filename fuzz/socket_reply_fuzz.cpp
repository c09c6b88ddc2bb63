// Takes arbitrary bytes as what one socket read brought from the support
// server: the reply text never holds a NUL, is well-formed UTF-8, and the
// handshake accepts exactly "012PNG1", anything, "013PNG".
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "common/ansi_codec.h"
#include "vendorlink/socket_reply.h"

namespace {

bool IsUtf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const std::size_t length = lead < 0x80                   ? 1
                               : lead >= 0xC2 && lead < 0xE0 ? 2
                               : lead >= 0xE0 && lead < 0xF0 ? 3
                               : lead >= 0xF0 && lead < 0xF5 ? 4
                                                             : 0;
    if (length == 0 || i + length > text.size()) return false;
    for (std::size_t k = 1; k < length; ++k) {
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
    }
    i += length;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view received(reinterpret_cast<const char*>(data), size);
  const std::string reply = mvx::SocketReplyText(received);
  if (reply.find('\0') != std::string::npos || !IsUtf8(reply)) std::abort();
  const bool accepted = reply.size() >= 13 && reply.compare(0, 7, "012PNG1") == 0 &&
                        reply.compare(reply.size() - 6, 6, "013PNG") == 0;
  if (mvx::IsHandshakeAccepted(reply) != accepted) std::abort();
  // The text goes back out in the host's code page without failing either.
  (void)mvx::ToAnsi(reply);
  return 0;
}
