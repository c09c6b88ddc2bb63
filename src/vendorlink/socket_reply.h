#pragma once

#include <string>
#include <string_view>

namespace mvx {

// The reply text of one socket read: the bytes up to the first NUL, from the
// host's code page to UTF-8. Any bytes give some text.
std::string SocketReplyText(std::string_view received);

// True for the support server's positive answer to "012PNG*013PNG".
bool IsHandshakeAccepted(std::string_view reply);

}  // namespace mvx
