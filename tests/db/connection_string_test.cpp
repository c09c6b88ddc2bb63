#include "db/connection_string.h"

#include <gtest/gtest.h>

#include "db/driver_choice.h"

namespace mvx {
namespace {

TEST(DriverChoice, PrefersNewestMicrosoftDriverAndFreeTdsLast) {
  struct Case {
    std::vector<std::string> installed;
    std::string forced;
    std::optional<std::string> chosen;
    DriverKind kind = DriverKind::Other;
  };
  const std::vector<Case> cases = {
      {{"FreeTDS", "SQL Server", "ODBC Driver 17 for SQL Server", "ODBC Driver 18 for SQL Server"},
       "",
       "ODBC Driver 18 for SQL Server",
       DriverKind::MicrosoftOdbc},
      {{"ODBC Driver 9 for SQL Server", "ODBC Driver 13 for SQL Server"},
       "",
       "ODBC Driver 13 for SQL Server",
       DriverKind::MicrosoftOdbc},
      {{"FreeTDS", "SQL Server Native Client 10.0", "SQL Server Native Client 11.0"},
       "",
       "SQL Server Native Client 11.0",
       DriverKind::NativeClient},
      {{"FreeTDS", "SQL Server"}, "", "SQL Server", DriverKind::LegacySqlServer},
      {{"PostgreSQL Unicode", "FreeTDS"}, "", "FreeTDS", DriverKind::FreeTds},
      {{"PostgreSQL Unicode", "MySQL"}, "", std::nullopt},
      {{}, "", std::nullopt},
      {{"ODBC Driver 18 for SQL Server"}, "FreeTDS", "FreeTDS", DriverKind::FreeTds},
      {{},
       "/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so",
       "/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so",
       DriverKind::FreeTds},
      {{"FreeTDS"}, "Some Other Driver", "Some Other Driver", DriverKind::Other},
  };
  for (const Case& c : cases) {
    const std::optional<OdbcDriver> driver = ChooseDriver(c.installed, c.forced);
    ASSERT_EQ(driver.has_value(), c.chosen.has_value()) << c.forced;
    if (!driver) continue;
    EXPECT_EQ(driver->name, *c.chosen);
    EXPECT_EQ(driver->kind, c.kind) << driver->name;
  }
}

TEST(ConnectionString, TranslatesServerFormsForEachDriver) {
  const OdbcDriver freeTds = ClassifyDriver("FreeTDS");
  const OdbcDriver driver18 = ClassifyDriver("ODBC Driver 18 for SQL Server");
  const OdbcDriver driver17 = ClassifyDriver("ODBC Driver 17 for SQL Server");
  const std::string freeTdsTail =
      "DATABASE=TremoLandix;UID=quendr;PWD=secret;APP=MvxRazuRarevi;TDS_Version=7.4;"
      "ClientCharset=UTF-8;";
  const std::string microsoftTail = "DATABASE=TremoLandix;UID=quendr;PWD=secret;APP=MvxRazuRarevi;";
  struct Case {
    const OdbcDriver& driver;
    std::string server;
    int portOverride;
    std::string localHost;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {freeTds, "(Local)", 0, "127.0.0.1", "DRIVER={FreeTDS};SERVER=127.0.0.1;" + freeTdsTail},
      {freeTds, ".", 0, "127.0.0.1", "DRIVER={FreeTDS};SERVER=127.0.0.1;" + freeTdsTail},
      {freeTds, "db1,1433", 0, "127.0.0.1", "DRIVER={FreeTDS};SERVER=db1;PORT=1433;" + freeTdsTail},
      {freeTds, "db1\\SQLEXPRESS", 0, "127.0.0.1",
       "DRIVER={FreeTDS};SERVER=db1\\SQLEXPRESS;" + freeTdsTail},
      {freeTds, "db1\\SQLEXPRESS", 5000, "127.0.0.1",
       "DRIVER={FreeTDS};SERVER=db1;PORT=5000;" + freeTdsTail},
      {driver18, "(local)", 0, "(local)",
       "DRIVER={ODBC Driver 18 for SQL Server};SERVER=(local);" + microsoftTail +
           "Encrypt=Optional;"},
      {driver18, "(local)", 5000, "(local)",
       "DRIVER={ODBC Driver 18 for SQL Server};SERVER=127.0.0.1,5000;" + microsoftTail +
           "Encrypt=Optional;"},
      {driver17, "db1,1433", 0, "(local)",
       "DRIVER={ODBC Driver 17 for SQL Server};SERVER=db1,1433;" + microsoftTail},
      {driver17, "db1\\INST", 0, "(local)",
       "DRIVER={ODBC Driver 17 for SQL Server};SERVER=db1\\INST;" + microsoftTail},
  };
  for (const Case& c : cases) {
    ConnectionParams params{c.server, "TremoLandix", "quendr", "secret", c.portOverride};
    EXPECT_EQ(BuildConnectionString(c.driver, params, c.localHost), c.expected) << c.server;
  }
}

TEST(ConnectionString, QuotesValuesThatWouldEndTheString) {
  ConnectionParams params{"db1", "", "sa", "a;b}c", 0};
  // No database: the login's default database applies.
  EXPECT_EQ(BuildConnectionString(ClassifyDriver("ODBC Driver 17 for SQL Server"), params, ""),
            "DRIVER={ODBC Driver 17 for SQL Server};SERVER=db1;UID=sa;PWD={a;b}}c};"
            "APP=MvxRazuRarevi;");
  EXPECT_EQ(QuoteConnectionValue("a;b}c", DriverKind::FreeTds), "{a;b}c}");
  EXPECT_EQ(QuoteConnectionValue(" pad ", DriverKind::MicrosoftOdbc), "{ pad }");
  EXPECT_EQ(QuoteConnectionValue("plain=text", DriverKind::MicrosoftOdbc), "plain=text");
}

}  // namespace
}  // namespace mvx
