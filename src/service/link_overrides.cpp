#include "service/link_overrides.h"

#include <cstdlib>

namespace mvx {

void ApplySupportHostOverrides(LinkEndpoints& endpoints) {
  if (const char* host = std::getenv("MVX_SUPPORT_HOST_PRIMARY")) endpoints.primaryHost = host;
  if (const char* host = std::getenv("MVX_SUPPORT_HOST_SECONDARY")) endpoints.secondaryHost = host;
}

}  // namespace mvx
