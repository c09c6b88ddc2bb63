#include "db/odbc_platform.h"

namespace mvx {

// The Microsoft drivers reach a local server through shared memory under
// "(local)"; FreeTDS (Wine's bridge to the host driver) needs an address.
std::string LocalServerHost(DriverKind kind) {
  return kind == DriverKind::FreeTds ? "127.0.0.1" : "(local)";
}

// Every Windows ships the plain "SQL Server" driver.
std::string FallbackDriverName() { return "SQL Server"; }

}  // namespace mvx
