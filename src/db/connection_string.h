#pragma once

#include <string>
#include <string_view>

#include "db/driver_choice.h"
#include "db/sql_connection.h"

namespace mvx {

// A server name of the settings: "(local)", ".", "host", "host\instance" or
// "host,port".
struct ServerAddress {
  std::string host;
  std::string instance;
  int port = 0;
  bool local = false;  // "(local)", "." or nothing at all
};

ServerAddress ParseServerName(std::string_view serverName);

// An ODBC connection-string value, in braces when it holds characters that
// would end or confuse it. The Microsoft drivers read "}}" inside braces as
// one "}"; FreeTDS takes the braces' content as it stands up to "};".
std::string QuoteConnectionValue(std::string_view value, DriverKind kind);

// The connection string for the driver: SQL Server authentication, the
// application name, and what each driver needs to speak to the server as the
// service expects. `localHost` is what "(local)" becomes for this driver.
std::string BuildConnectionString(const OdbcDriver& driver, const ConnectionParams& params,
                                  std::string_view localHost);

}  // namespace mvx
