#include <array>
#include <filesystem>
#include <string_view>

#include "db/odbc_platform.h"

namespace mvx {

// No driver here understands "(local)"; SQL Server on Linux listens on TCP.
std::string LocalServerHost(DriverKind) { return "127.0.0.1"; }

// unixODBC also accepts a driver library path, so an installed FreeTDS
// library works even when odbcinst.ini does not register it.
std::string FallbackDriverName() {
  constexpr std::array<std::string_view, 4> kCandidates = {
      "/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so",
      "/usr/lib/aarch64-linux-gnu/odbc/libtdsodbc.so",
      "/usr/lib/odbc/libtdsodbc.so",
      "/usr/local/lib/libtdsodbc.so",
  };
  for (std::string_view candidate : kCandidates) {
    std::error_code error;
    if (std::filesystem::exists(std::filesystem::path(candidate), error)) {
      return std::string(candidate);
    }
  }
  return {};
}

}  // namespace mvx
