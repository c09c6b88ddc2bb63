#pragma once

#include "vendorlink/link_endpoints.h"

namespace mvx {

// Operators (and the Wine stage) may point the link at other support hosts
// through MVX_SUPPORT_HOST_PRIMARY and MVX_SUPPORT_HOST_SECONDARY.
void ApplySupportHostOverrides(LinkEndpoints& endpoints);

}  // namespace mvx
