#include "service/link_overrides.h"

#include <cstdlib>

namespace mvx {

void ApplySupportHostOverrides(LinkEndpoints& endpoints) {
  if (const char* host = std::getenv("MVX_SUPPORT_HOST_PRIMARY")) endpoints.primaryHost = host;
  if (const char* host = std::getenv("MVX_SUPPORT_HOST_SECONDARY")) endpoints.secondaryHost = host;
  if (const char* port = std::getenv("MVX_SUPPORT_HTTP_PORT")) {
    char* end = nullptr;
    const long value = std::strtol(port, &end, 10);
    if (end != port && *end == '\0' && value > 0 && value <= 65535) {
      endpoints.httpPort = static_cast<std::uint16_t>(value);
    }
  }
}

}  // namespace mvx
