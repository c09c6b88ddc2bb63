#include "vendorlink/link_endpoints.h"

// The build passes the host names (CMake cache values); these stand in otherwise.
#ifndef MVX_SUPPORT_HOST_PRIMARY_NAME
#define MVX_SUPPORT_HOST_PRIMARY_NAME "support1.morvex.invalid"
#endif
#ifndef MVX_SUPPORT_HOST_SECONDARY_NAME
#define MVX_SUPPORT_HOST_SECONDARY_NAME "support2.morvex.invalid"
#endif

namespace mvx {

LinkEndpoints DefaultLinkEndpoints() {
  LinkEndpoints endpoints;
  endpoints.primaryHost = MVX_SUPPORT_HOST_PRIMARY_NAME;
  endpoints.secondaryHost = MVX_SUPPORT_HOST_SECONDARY_NAME;
  return endpoints;
}

}  // namespace mvx
