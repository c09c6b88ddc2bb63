#include "common/owner_only_access.h"

namespace mvx {

AccessNarrowing NarrowToOwnerOnly(const std::string&) { return AccessNarrowing::Unchanged; }

}  // namespace mvx
