#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mvx {

enum class DriverKind {
  MicrosoftOdbc,    // "ODBC Driver NN for SQL Server"
  NativeClient,     // "SQL Server Native Client NN.N"
  LegacySqlServer,  // "SQL Server", shipped with every Windows
  FreeTds,
  Other,  // named by MVX_ODBC_DRIVER, spoken to like the Microsoft drivers
};

struct OdbcDriver {
  std::string name;  // as registered, or a driver library path
  DriverKind kind = DriverKind::Other;
  int version = 0;  // NN of "ODBC Driver NN for SQL Server"
};

OdbcDriver ClassifyDriver(std::string name);

// The forced name (the environment variable) wins when it is not empty;
// otherwise the newest Microsoft driver, then Native Client, then the plain
// "SQL Server" driver, then FreeTDS. nullopt when none of them is installed.
std::optional<OdbcDriver> ChooseDriver(const std::vector<std::string>& installed,
                                       std::string_view forced);

}  // namespace mvx
