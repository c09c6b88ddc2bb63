#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/ansi_codec.h"
#include "common/clock.h"
#include "common/profile_file.h"
#include "common/text_log.h"
#include "config/settings.h"
#include "db/database.h"
#include "db/sql_connection.h"
#include "support/sql/scripted_sql_server.h"
#include "support/sql/sql_replies.h"
#include "support/temp_dir.h"

namespace mvx::dbtest {

namespace sql = mvx::testing;
using sql::Count;
using sql::Error;
using sql::Rows;

// The connection, its settings and the text log, pointed at a scripted server.
class DbTest : public ::testing::Test {
 protected:
  DbTest() {
    settings.serverName = "(Local)";
    settings.login = "quendr";
    settings.password = "secret";
    settings.connectionDatabase = "TremoLandix";
    database.SetPortOverride(server.port());
  }

  // Entries of RazuRarevi.Log, as UTF-8.
  std::vector<std::string> FileLogMessages() const {
    std::vector<std::string> out;
    const ProfileFile log(dir.file("RazuRarevi.Log"));
    for (const std::string& key : log.SectionKeys("RazuRarevi Log")) {
      out.push_back(FromAnsi(log.ReadString("RazuRarevi Log", key)));
    }
    return out;
  }

  sql::ScriptedSqlServer server;
  sql::TempDir dir;
  ManualClock clock{LocalDateTime::Make(2024, 5, 17, 17, 0, 0)};
  TextLog textLog{dir.dir(), clock};
  Settings settings;
  SqlConnection connection;
  Database database{connection, settings, textLog};
};

}  // namespace mvx::dbtest
