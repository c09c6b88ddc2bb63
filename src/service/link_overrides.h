#pragma once

#include "vendorlink/link_endpoints.h"

namespace mvx {

// Operators (and the Wine stage) may point the link at other support hosts through
// MVX_SUPPORT_HOST_PRIMARY and MVX_SUPPORT_HOST_SECONDARY, and the downloads at another port
// through MVX_SUPPORT_HTTP_PORT (1-65535; anything else is ignored), as on Linux.
void ApplySupportHostOverrides(LinkEndpoints& endpoints);

}  // namespace mvx
