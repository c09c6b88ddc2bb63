#pragma once

#include <string>

#include "db/driver_choice.h"

namespace mvx {

// What "(local)" and "." become for the driver on this platform.
std::string LocalServerHost(DriverKind kind);

// A driver to try when the driver manager lists none of the known ones;
// empty when this machine has none.
std::string FallbackDriverName();

}  // namespace mvx
