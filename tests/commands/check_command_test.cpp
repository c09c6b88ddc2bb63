// -check and -plan against the scripted SQL server and loopback support hosts: every item in
// each status, the exit codes, the JSON form, and that neither command writes anything.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <sstream>

#include "commands/operator_command.h"
#include "common/ansi_codec.h"
#include "common/profile_file.h"
#include "common/scramble.h"
#include "support/fake_service_control.h"
#include "support/http/line_server.h"
#include "support/json_value.h"
#include "support/sql/sql_replies.h"
#include "support/temp_dir.h"

namespace mvx {
namespace {

namespace fs = std::filesystem;
namespace sql = mvx::testing;
using sql::Rows;
using Text = sql::SqlColumn::Type;

struct SwitchPinger final : Pinger {
  PingResult Ping(std::string_view address) override {
    return up ? PingResult{true, std::string(address)} : PingResult{};
  }
  bool up = true;
};

class CheckCommandTest : public ::testing::Test {
 public:
  CheckCommandTest() {
    ProfileFile ini(exe.file("RazuRarevi.ini"));
    for (const auto& [section, key, value] :
         std::vector<std::tuple<std::string, std::string, std::string>>{
             {"DBServer", "Name", "127.0.0.1"},
             {"DBServer", "Password", "pw"},
             {"DBServer", "BackupDB2", "QuendrilaxoShop"},
             {"DBServer", "DBPath", "/"},
             {"RazuRarevi", "BKPath", backups.path().string()},
             {"RazuRarevi", "FullType", "2"},
             {"RazuRarevi", "FullDay1", "금"},
             {"RazuRarevi", "IncType", "3"},
             {"RazuRarevi", "IncBTime", "17:00"}}) {
      ini.WriteString(section, ScrambleValue(key), ScrambleValue(ToAnsi(value)));
    }
    backups.write("TremoLandix(20240315).ful", "full");
    backups.write("QuendrilaxoShop(20240312).ful", "full");
    backups.write("TremoLandix(20240101).inc", "old");
    options.exeDir = exe.dir();
    options.databasePort = server.port();
    options.endpoints.primaryHost = options.endpoints.secondaryHost = "127.0.0.1";
    options.endpoints.linePort = line.Port();
    options.pinger = &pinger;
    options.serviceControl = &companion;
    options.freeSpace = [this](std::string_view) { return freeBytes; };
  }

  // Rules a case adds go first and so win over these answers of a sound server.
  void AddServerRules() {
    server.addRule("@@SERVERNAME",
                   Rows({{"", Text::Text}, {"", Text::Text}}, {{"SQLTEST", "16.0.4135.4"}}));
    server.addRule("sysdatabases where name = 'Brivellon'", sql::Count(0));
    server.addRule("from sys.databases",
                   Rows({{"state_desc"}, {"recovery_model_desc"}}, {{"ONLINE", "FULL"}}));
    server.addRule("IS_SRVROLEMEMBER", Rows({{"", Text::Int}, {"", Text::Int}}, {{"1", "1"}}));
    server.addRule("msdb\\.dbo\\.backupset",
                   Rows({{"backup_finish_date"}, {"physical_device_name"}},
                        {{"2024-03-15 17:02:10.000", "X(20240315).ful"}}));
    server.addRule("xp_fileexist", Rows({{"File Exists", Text::Int},
                                         {"File is a Directory", Text::Int},
                                         {"Parent Directory Exists", Text::Int}},
                                        {{"0", "1", "1"}}));
    server.addRule("T0246", Rows({sql::VarChar("C005")}, {{"1"}}));
    server.addRule(sql::kKeyPartStatusRead, sql::KeyPartStatus("1", "2024-03-12"));
  }

  int Run(std::function<int(const std::vector<std::string>&, const ServiceOptions&, const Clock&,
                            std::ostream&, std::ostream&)>
              command,
          const std::vector<std::string>& args) {
    out.str("");
    err.str("");
    return command(args, options, clock, out, err);
  }

  // Every file under the two folders with its bytes.
  std::map<std::string, std::string> Files() const {
    std::map<std::string, std::string> files;
    for (const sql::TempDir* dir : {&exe, &backups}) {
      for (const auto& entry : fs::directory_iterator(dir->path())) {
        files[entry.path().string()] = dir->read(entry.path().filename().string());
      }
    }
    return files;
  }

  void LogBackups() {
    ProfileFile(exe.file("RazuRarevi.ini"))
        .WriteString("RazuRarevi", ScrambleValue("LogBackup"), ScrambleValue("15"));
  }

  sql::TempDir exe, backups;
  sql::ScriptedSqlServer server;
  sql::LineServer line;
  SwitchPinger pinger;
  sql::FakeServiceControl companion;
  std::uint64_t freeBytes = 200ULL << 30;
  ManualClock clock{LocalDateTime::Make(2024, 3, 15, 18, 0)};  // a Friday
  ServiceOptions options;
  std::ostringstream out, err;
};

TEST_F(CheckCommandTest, EachItemInEachStatus) {
  struct Case {
    std::string what;
    std::function<void(CheckCommandTest&)> fault;
    std::string item;  // the line that changes, as it begins
    std::string status;
    int exitCode;
  };
  const std::vector<Case> cases = {
      {"a sound setup", [](auto&) {}, "OK   Slot 2 QuendrilaxoShop", "", 0},
      {"login refused", [](auto& t) { t.server.refuseLogins(true); }, "FAIL SQL Server", "", 2},
      {"database missing",
       [](auto& t) {
         t.server.addRule("sys.databases.*Quendrilaxo", Rows({{"a"}, {"b"}}, {}));
       },
       "FAIL Slot 2 QuendrilaxoShop: missing", "", 2},
      {"offline",
       [](auto& t) {
         t.server.addRule("sys.databases.*Quendrilaxo",
                          Rows({{"a"}, {"b"}}, {{"OFFLINE", "FULL"}}));
       },
       "FAIL Slot 2 QuendrilaxoShop: not ONLINE", "", 2},
      {"no backup right",
       [](auto& t) {
         t.server.addRule("IS_SRVROLEMEMBER",
                          Rows({{"", Text::Int}, {"", Text::Int}}, {{"0", "0"}}));
       },
       "FAIL Slot 1 TremoLandix", "may not back it up", 2},
      {"folder missing for the server",
       [](auto& t) {
         t.server.addRule(
             "xp_fileexist",
             Rows({{"a", Text::Int}, {"b", Text::Int}, {"c", Text::Int}}, {{"0", "0", "1"}}));
       },
       "FAIL Backup folder", "is no folder for the server", 2},
      {"disk short", [](auto& t) { t.freeBytes = (3072ULL << 20) - 1; }, "WARN Backup folder",
       "under 3072 MB", 1},
      {"support hosts down", [](auto& t) { t.pinger.up = false; }, "WARN Support link", "", 1},
      {"companion stopped", [](auto& t) { t.companion.state = kServiceStopped; },
       "WARN Companion: RidOdadezMain stopped", "", 1},
      {"T0500 missing",
       [](auto& t) { t.server.addRule("T0500", sql::Error(208, "Invalid object name 'T0500'.")); },
       "WARN Key-part QuendrilaxoShop: T0500 not readable", "", 1},
      // Last: it changes the folder.
      {"full file too old",
       [](auto& t) {
         fs::remove(t.backups.path() / "TremoLandix(20240315).ful");
         t.backups.write("TremoLandix(20240306).ful", "full");
       },
       "WARN Slot 1 TremoLandix", "9 days old, the schedule allows 8", 1},
      // With log backups every 15 minutes (the agent runs): 45 minutes is the limit.
      {"log backups stale",
       [](auto& t) {
         t.LogBackups();
         t.backups.write("QuendrilaxoShop(20240315-171400).trn", "log");
       },
       "FAIL Log backups QuendrilaxoShop", "46 min old, older than three intervals", 2},
      {"log backup fresh",
       [](auto& t) { t.backups.write("TremoLandix(20240315-171500).trn", "log"); },
       "OK   Log backups TremoLandix", "45 min old", 2},
      {"not in full recovery",
       [](auto& t) {
         t.server.addRule("sys.databases.*Quendrilaxo",
                          Rows({{"a"}, {"b"}}, {{"ONLINE", "SIMPLE"}}));
       },
       "WARN Log backups QuendrilaxoShop", "recovery SIMPLE, not FULL", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    server.clearRules();
    server.refuseLogins(false);
    pinger.up = true;
    companion.state = kServiceRunning;
    freeBytes = 200ULL << 30;
    c.fault(*this);
    AddServerRules();
    EXPECT_EQ(Run(RunCheckCommand, {}), c.exitCode) << out.str();
    const std::string text = out.str();
    const char* summaries[] = {"RAZURAREVI OK - ", "RAZURAREVI WARNING - ",
                               "RAZURAREVI CRITICAL - "};
    EXPECT_EQ(text.rfind(summaries[c.exitCode], 0), 0u) << text;
    const std::size_t line = text.find("\n" + c.item);
    ASSERT_NE(line, std::string::npos) << text;
    EXPECT_NE(text.substr(line, text.find('\n', line + 1) - line).find(c.status), std::string::npos)
        << text;
  }
}

TEST_F(CheckCommandTest, ExitCodesJsonAndNothingWritten) {
  AddServerRules();
  companion.state = kServicePaused;
  const std::map<std::string, std::string> before = Files();

  EXPECT_EQ(Run(RunCheckCommand, {"--json"}), 1);
  const sql::JsonValue json = sql::JsonReader::Parse(out.str());
  EXPECT_EQ(json["exitCode"].number, 1);
  EXPECT_EQ(json["summary"].text, "RAZURAREVI WARNING - 1 warning: Companion");
  const sql::JsonValue& items = json["items"];
  ASSERT_EQ(items.items.size(),
            8u);  // settings, server, 2 slots, folder, link, companion, key-part
  EXPECT_EQ(items[4]["figures"]["freeBytes"].number, 200.0 * (1ULL << 30));
  EXPECT_EQ(items[2]["figures"]["serverFullFinished"].text, "2024-03-15T17:02:10");
  EXPECT_EQ(items[6]["status"].text, "WARN");

  EXPECT_EQ(Run(RunPlanCommand, {"--date", "2024-03-15", "--days", "31"}), 0);
  EXPECT_EQ(Run(RunPlanCommand, {"--days", "32"}), 2);
  EXPECT_EQ(Run(RunPlanCommand, {"--date", "2024-02-30"}), 2);
  EXPECT_EQ(Run(RunCheckCommand, {"--verbose"}), 3);
  EXPECT_EQ(Run(RunCheckCommand, {"--ini", backups.dir()}), 3);  // a folder: unreadable
  EXPECT_EQ(out.str().rfind("RAZURAREVI UNKNOWN - Unable to read", 0), 0u) << out.str();

  EXPECT_EQ(Files(), before);
  for (const std::string& batch : server.batchTexts()) {
    EXPECT_TRUE(batch.rfind("select ", 0) == 0 ||
                batch.rfind("EXEC master.dbo.xp_fileexist", 0) == 0)
        << batch;
  }
  EXPECT_EQ(companion.calls, std::vector<std::string>(1, "query RidOdadezMain"));
}

}  // namespace
}  // namespace mvx
