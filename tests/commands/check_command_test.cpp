// -check and -plan against the scripted SQL server and loopback support hosts: every item in
// each status, the exit codes, the JSON form, and that neither command writes anything.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <sstream>

#include "commands/operator_command.h"
#include "common/ansi_codec.h"
#include "common/profile_file.h"
#include "common/scramble.h"
#include "common/text_log.h"
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
    WriteIni({});
    WriteBackupFiles();
    options.exeDir = exe.dir();
    options.databasePort = server.port();
    options.endpoints.primaryHost = options.endpoints.secondaryHost = "127.0.0.1";
    options.endpoints.linePort = line.Port();
    options.pinger = &pinger;
    options.serviceControl = &companion;
    options.freeSpace = [this](std::string_view) { return freeBytes; };
    companion.stateOf["fMvxBackupMain"] = kServiceRunning;
  }

  // The settings of a sound setup, with `changes` ("key", "value") in the RazuRarevi section.
  void WriteIni(const std::map<std::string, std::string>& changes) {
    fs::remove(exe.path() / "RazuRarevi.ini");
    ProfileFile ini(exe.file("RazuRarevi.ini"));
    std::vector<std::tuple<std::string, std::string, std::string>> values = {
        {"DBServer", "Name", "127.0.0.1"},
        {"DBServer", "Password", "pw"},
        {"DBServer", "BackupDB2", "QuendrilaxoShop"},
        {"DBServer", "DBPath", "/"},
        {"RazuRarevi", "BKPath", backups.path().string()},
        {"RazuRarevi", "FullType", "2"},
        {"RazuRarevi", "FullDay1", "금"},
        {"RazuRarevi", "IncType", "3"},
        {"RazuRarevi", "IncBTime", "17:00"}};
    for (const auto& [key, value] : changes) {
      const std::size_t slash = key.find('/');  // "DBServer/BackupDB3" names another section
      values.emplace_back(slash == std::string::npos ? "RazuRarevi" : key.substr(0, slash),
                          key.substr(slash + 1), value);
    }
    for (const auto& [section, key, value] : values) {
      ini.WriteString(section, ScrambleValue(key), ScrambleValue(ToAnsi(value)));
    }
  }

  // The backups of a sound week, and old files the cleanup would delete: a write shows.
  void WriteBackupFiles() {
    for (const auto& entry : fs::directory_iterator(backups.path())) fs::remove(entry.path());
    for (const char* name : {"TremoLandix(20240315).ful", "QuendrilaxoShop(20240315).ful",
                             "TremoLandix(20240201).ful", "TremoLandix(20240314).inc",
                             "QuendrilaxoShop(20240314).inc", "TremoLandix(20240101).inc"}) {
      backups.write(name, "backup");
    }
  }

  // Rules a case adds go first and so win over these answers of a sound server.
  void AddServerRules() {
    server.addRule("@@SERVERNAME",
                   Rows({{"", Text::Text}, {"", Text::Text}}, {{"SQLTEST", "16.0.4135.4"}}));
    server.addRule("sysdatabases where name = 'Brivellon'", sql::Count(0));
    server.addRule("from sys.databases",
                   Rows({{"state_desc"}, {"recovery_model_desc"}}, {{"ONLINE", "FULL"}}));
    server.addRule("IS_SRVROLEMEMBER",
                   Rows({{"", Text::Int}, {"", Text::Int}, {"", Text::Int}, {"", Text::Int}},
                        {{"0", "1", "1", "1"}}));
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

  // The agent started an hour ago, after the settings' last change, and then wrote its own
  // bookkeeping key into them (the monthly deletion of its text log).
  void AgentStartedThenWroteItsKey() {
    const fs::path ini = exe.path() / "RazuRarevi.ini";
    fs::last_write_time(ini, fs::file_time_type::clock::now() - std::chrono::hours(2));
    companion.startedAt = std::chrono::duration_cast<std::chrono::seconds>(
                              std::chrono::system_clock::now().time_since_epoch())
                              .count() -
                          3600;
    exe.write("RazuRarevi.Log", "[RazuRarevi Log]\r\n");
    TextLog(exe.dir(), clock).ResetLogFileByAge();
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
         t.LogBackups();
         t.backups.write("TremoLandix(20240315-171500).trn", "log");
         t.server.addRule("sys.databases.*Quendrilaxo", Rows({{"a"}, {"b"}}, {}));
       },
       "FAIL Slot 2 QuendrilaxoShop: missing", "", 2},
      {"offline",
       [](auto& t) {
         t.LogBackups();
         t.backups.write("TremoLandix(20240315-171500).trn", "log");
         t.server.addRule("sys.databases.*Quendrilaxo",
                          Rows({{"a"}, {"b"}}, {{"OFFLINE", "FULL"}}));
       },
       "FAIL Slot 2 QuendrilaxoShop: not ONLINE", "", 2},
      {"no backup right",
       [](auto& t) {
         t.server.addRule("IS_SRVROLEMEMBER",
                          Rows({{"", Text::Int}, {"", Text::Int}, {"", Text::Int}, {"", Text::Int}},
                               {{"0", "0", "1", "1"}}));
       },
       "FAIL Slot 1 TremoLandix", "may not back it up", 2},
      {"no right to change the recovery model",
       [](auto& t) {
         t.server.addRule("IS_SRVROLEMEMBER",
                          Rows({{"", Text::Int}, {"", Text::Int}, {"", Text::Int}, {"", Text::Int}},
                               {{"0", "1", "0", "1"}}));
       },
       "FAIL Slot 1 TremoLandix", "may not change its recovery model", 2},
      {"locked: the server answers 1222 after its lock timeout",
       [](auto& t) {
         sql::SqlReply locked = sql::Error(1222, "Lock request time out period exceeded.");
         locked.delay = std::chrono::milliseconds(500);
         t.server.addRule("sys.databases.*Quendrilaxo", locked);
       },
       "WARN Slot 2 QuendrilaxoShop: locked", "Lock request time out", 1},
      {"one-digit hour",
       [](auto& t) {
         t.WriteIni({{"FullTime", "9:00"}});
       },
       "FAIL Settings", "FullTime 9:00 is never reached", 2},
      {"unpadded day of the month",
       [](auto& t) {
         t.WriteIni({{"FullType", "1"}, {"FullDay1", "1"}});
       },
       "FAIL Settings", "FullDay 1 never matches", 2},
      {"unknown type",
       [](auto& t) {
         t.WriteIni({{"FullType", "4"}});
       },
       "FAIL Settings", "FullType \"4\" is unknown", 2},
      {"no days",
       [](auto& t) {
         t.WriteIni({{"FullDay1", ""}});
       },
       "FAIL Settings", "no full backup is ever due: no FullDay is set", 2},
      {"a time later than 24:00 minus the corrected interval",
       [](auto& t) {
         t.WriteIni({{"IncBTime", "23:50"}, {"TimerInt", "100"}});
       },
       "WARN Settings", "IncBTime 23:50 may be missed: ticks are 1000 s apart", 1},
      {"the last key-part run failed",
       [](auto& t) {
         t.server.addRule(sql::kKeyPartStatusRead, sql::KeyPartStatus("0", "2024-03-05"));
       },
       "WARN Key-part QuendrilaxoShop", "the last key-part run failed", 1},
      {"a key-part run started days ago",
       [](auto& t) {
         t.server.addRule(sql::kKeyPartStatusRead,
                          sql::KeyPartStatus("2", "2024-03-05", "2024.03.12"));
       },
       "WARN Key-part QuendrilaxoShop", "running since 2024.03.12", 1},
      {"a failed verification left its file",
       [](auto& t) { t.backups.write("TremoLandix(20240315).ful.bad", "bad"); },
       "WARN Backup folder", "failed verifications left TremoLandix(20240315).ful.bad", 1},
      {"a | and a ' in a slot's name",
       [](auto& t) {
         t.WriteIni({{"DBServer/BackupDB3", "Zol|t'x"}});
       },
       "FAIL Slot 3 Zol¦t'x: ONLINE", "", 2},
      {"agent stopped", [](auto& t) { t.companion.stateOf["fMvxBackupMain"] = kServiceStopped; },
       "FAIL Agent: fMvxBackupMain stopped", "", 2},
      {"agent paused: the backups go on",
       [](auto& t) { t.companion.stateOf["fMvxBackupMain"] = kServicePaused; },
       "WARN Agent: fMvxBackupMain paused, backups go on", "", 1},
      {"settings written after the agent started",
       [](auto& t) {
         const auto written =
             std::chrono::file_clock::to_sys(fs::last_write_time(t.exe.path() / "RazuRarevi.ini"));
         t.companion.startedAt =
             std::chrono::duration_cast<std::chrono::seconds>(written.time_since_epoch()).count() -
             3600;
       },
       "WARN Agent", "settings changed since the agent started at", 1},
      {"settings written before the agent started",
       [](auto& t) {
         const auto written =
             std::chrono::file_clock::to_sys(fs::last_write_time(t.exe.path() / "RazuRarevi.ini"));
         t.companion.startedAt =
             std::chrono::duration_cast<std::chrono::seconds>(written.time_since_epoch()).count() +
             1;
       },
       "OK   Agent: fMvxBackupMain running", "", 0},
      {"the agent's own write after it started", [](auto& t) { t.AgentStartedThenWroteItsKey(); },
       "OK   Agent: fMvxBackupMain running", "", 0},
      {"an operator's write after the agent's own",
       [](auto& t) {
         t.AgentStartedThenWroteItsKey();
         ProfileFile(t.exe.file("RazuRarevi.ini"))
             .WriteString("RazuRarevi", ScrambleValue("TimerInt"), ScrambleValue("900"));
       },
       "WARN Agent", "settings changed since the agent started at", 1},
      {"the differential due yesterday has no file",
       [](auto& t) {
         fs::remove(t.backups.path() / "QuendrilaxoShop(20240314).inc");
         t.backups.write("QuendrilaxoShop(20240313).inc", "backup");
       },
       "OK   Slot 2 QuendrilaxoShop", "the differential backup due on 2024-03-14 has no file", 0},
      {"two due differentials without a file",
       [](auto& t) {
         fs::remove(t.backups.path() / "QuendrilaxoShop(20240314).inc");
         t.clock.Set(LocalDateTime::Make(2024, 3, 16, 18, 31));
       },
       "WARN Slot 2 QuendrilaxoShop", "differential backups due on 2024-03-15 and 2024-03-16", 1},
      {"the full due today has no file",
       [](auto& t) {
         fs::remove(t.backups.path() / "TremoLandix(20240315).ful");
         t.backups.write("TremoLandix(20240308).ful", "backup");
       },
       "WARN Slot 1 TremoLandix", "the full backup due on 2024-03-15 has no file", 1},
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
      {"full file too old: two due full backups missed",
       [](auto& t) {
         fs::remove(t.backups.path() / "TremoLandix(20240315).ful");
         t.backups.write("TremoLandix(20240306).ful", "full");
       },
       "FAIL Slot 1 TremoLandix", "full backups due on 2024-03-08 and 2024-03-15 have no file", 2},
      {"log backups stale",
       [](auto& t) {
         t.LogBackups();
         t.backups.write("QuendrilaxoShop(20240315-171400).trn", "log");
       },
       "FAIL Log backups QuendrilaxoShop", "46 min old, older than three intervals", 2},
      {"log backups stale while the agent is paused",
       [](auto& t) {
         t.LogBackups();
         t.backups.write("QuendrilaxoShop(20240315-171400).trn", "log");
         t.companion.stateOf["fMvxBackupMain"] = kServicePaused;
       },
       "FAIL Log backups QuendrilaxoShop", "older than three intervals", 2},
      {"log backup fresh",
       [](auto& t) {
         t.LogBackups();
         t.backups.write("TremoLandix(20240315-171500).trn", "log");
       },
       "OK   Log backups TremoLandix", "45 min old", 2},
      {"not in full recovery",
       [](auto& t) {
         t.LogBackups();
         t.backups.write("TremoLandix(20240315-171500).trn", "log");
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
    companion.stateOf["fMvxBackupMain"] = kServiceRunning;
    companion.startedAt.reset();
    clock.Set(LocalDateTime::Make(2024, 3, 15, 18, 0));
    freeBytes = 200ULL << 30;
    WriteIni({});
    WriteBackupFiles();
    c.fault(*this);
    AddServerRules();
    EXPECT_EQ(Run(RunCheckCommand, {}), c.exitCode) << out.str();
    const std::string text = out.str();
    const char* summaries[] = {"RAZURAREVI OK - ", "RAZURAREVI WARNING - ",
                               "RAZURAREVI CRITICAL - "};
    EXPECT_EQ(text.rfind(summaries[c.exitCode], 0), 0u) << text;
    // One plugin line: the only "|" is the one before the perfdata.
    const std::string first = text.substr(0, text.find('\n'));
    EXPECT_EQ(std::count(first.begin(), first.end(), '|'), 1) << first;
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
  EXPECT_EQ(companion.calls,
            (std::vector<std::string>{"query fMvxBackupMain", "started fMvxBackupMain",
                                      "query RidOdadezMain"}));
  const sql::JsonValue json = sql::JsonReader::Parse(out.str());
  EXPECT_EQ(json["exitCode"].number, 1);
  EXPECT_EQ(json["status"].text, "WARNING");
  EXPECT_EQ(json["summary"].text, "RAZURAREVI WARNING - 1 warning: Companion");
  const sql::JsonValue& items = json["items"];
  ASSERT_EQ(items.items.size(),
            9u);  // settings, agent, server, 2 slots, folder, link, companion, key-part
  EXPECT_EQ(items[5]["figures"]["freeBytes"].number, 200.0 * (1ULL << 30));
  EXPECT_EQ(items[3]["figures"]["serverFullFinished"].text, "2024-03-15T17:02:10");
  EXPECT_EQ(items[7]["status"].text, "WARN");

  // Every error is one UNKNOWN line (or JSON object) on standard output.
  struct Case {
    std::vector<std::string> args;
    bool check;
    int exitCode;
    std::string first;  // how standard output begins
  };
  const std::string missing = exe.file("missing.ini");
  const Case cases[] = {
      {{"--date", "2024-03-15", "--days", "31"}, false, 0, "Plan from 2024-03-15, 31 days"},
      {{"--days", "32"}, false, 2, "RAZURAREVI UNKNOWN - -plan --days takes a number"},
      {{"--date", "2024-02-30"}, false, 2, "RAZURAREVI UNKNOWN - -plan --date takes a date"},
      {{"--date", "9999-12-30", "--days", "2"}, false, 2, "RAZURAREVI UNKNOWN - -plan the last"},
      {{"--ini", missing}, false, 1, "RAZURAREVI UNKNOWN - Unable to read " + missing},
      {{"--verbose"}, true, 3, "RAZURAREVI UNKNOWN - -check does not know --verbose\n"},
      {{"--json", "--timeout", "0"}, true, 3, "{\"status\":\"UNKNOWN\",\"summary\":"},
      {{"--ini", backups.dir()}, true, 3, "RAZURAREVI UNKNOWN - Unable to read"},  // a folder
      {{"--ini", missing}, true, 3, "RAZURAREVI UNKNOWN - Unable to read " + missing},
      {{"-silent"}, true, 1, "RAZURAREVI WARNING - 1 warning: Companion | "},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Run(c.check ? RunCheckCommand : RunPlanCommand, c.args), c.exitCode) << c.args[0];
    EXPECT_EQ(out.str().rfind(c.first, 0), 0u) << out.str();
  }
  // The monitoring line: perfdata after "|", labels without ' and |.
  EXPECT_NE(out.str().find(" | 'TremoLandix full age hours'=18;; 'TremoLandix differential age "
                           "hours'=42;; 'QuendrilaxoShop full age hours'=18;;"),
            std::string::npos)
      << out.str();
  EXPECT_NE(out.str().find("'free space'=204800MB;3072:; 'ok'=8;; 'warn'=1;; 'fail'=0;;\n"),
            std::string::npos)
      << out.str();

  // Settings written after the agent started head the plan.
  companion.startedAt = 1;
  EXPECT_EQ(Run(RunPlanCommand, {}), 0);
  EXPECT_EQ(out.str().rfind("Note: settings changed since the agent started at ", 0), 0u);

  EXPECT_EQ(Files(), before);
  for (const std::string& batch : server.batchTexts()) {
    EXPECT_TRUE(batch.rfind("select ", 0) == 0 || batch == "SET LOCK_TIMEOUT 5000" ||
                batch.rfind("EXEC master.dbo.xp_fileexist", 0) == 0)
        << batch;
  }
}

TEST_F(CheckCommandTest, TimeLimitEndsAHungServerAsUnknown) {
  AddServerRules();
  server.hangLogins(true);
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(Run(RunCheckCommand, {"--timeout", "5"}), 3);
  EXPECT_LE(std::chrono::steady_clock::now() - started, std::chrono::seconds(6));
  EXPECT_EQ(out.str().rfind("RAZURAREVI UNKNOWN - time limit of 5 s reached, 5 not checked: SQL "
                            "Server, Slot 1 TremoLandix, Slot 2 QuendrilaxoShop, Backup folder, "
                            "Key-part QuendrilaxoShop | ",
                            0),
            0u)
      << out.str();
  EXPECT_NE(out.str().find("\nUNKNOWN SQL Server: not checked: time limit\n"), std::string::npos);
  EXPECT_NE(out.str().find("\nOK   Companion"), std::string::npos);
}

// One week read twice, as text and as JSON: both say the same of every pass and file.
TEST_F(CheckCommandTest, PlanTextAndJsonTellTheSameWeek) {
  WriteIni({{"FullTime", "23:45"}, {"Save", "1"}, {"KeyWeek", "수"}});
  backups.write("TremoLandix(2024).ful", "not of the name form");
  backups.write("TremoLandix(20240102).trf", "read-only");
  backups.write("TremoLandix(20240103).trf", "the newest");
  fs::permissions(backups.path() / "TremoLandix(20240102).trf",
                  fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  ASSERT_EQ(Run(RunPlanCommand, {"--date", "2024-03-25", "--days", "7"}), 0);
  const std::string text = out.str();
  ASSERT_EQ(Run(RunPlanCommand, {"--date", "2024-03-25", "--days", "7", "--json"}), 0);
  const sql::JsonValue json = sql::JsonReader::Parse(out.str());
  EXPECT_NE(
      text.find("Backup folder " + backups.path().string() + ", 7 days kept, ticks every 1800 s"),
      std::string::npos);
  EXPECT_EQ(json["timerInt"].number, 1800);
  std::string rendered;  // the text as the JSON says it
  for (const sql::JsonValue& day : json["days"].items) {
    rendered += "\n" + day["date"].text + " " + day["weekday"].text + "\n";
    for (const auto& [key, what] :
         {std::pair{"full", "full backup"}, std::pair{"differential", "differential backup"}}) {
      const sql::JsonValue& pass = day[key];
      rendered += std::string("  ") + what + ": " +
                  (pass["due"].number != 1 ? "not due"
                                           : "due from " + pass["from"].text +
                                                 (pass["mayBeMissed"].number == 1
                                                      ? " — may be missed (ticks are 1800 s apart)"
                                                      : "")) +
                  "\n";
      for (const sql::JsonValue& slot : pass["slots"].items) {
        rendered +=
            "    " + slot["database"].text + ": would be backed up to " + slot["file"].text + "\n";
      }
    }
    rendered +=
        "  weekly key-part run: " +
        (day["keyPart"]["due"].number == 1
             ? "due from " + day["keyPart"]["from"].text + " for QuendrilaxoShop"
             : std::string("not due (수 from 01:00)")) +
        "\n  text log: " +
        (day["logTrimmed"].number == 1 ? "entries older than 14 days trimmed at the first tick"
                                       : "no trim (done today already)") +
        "\n  cleanup:\n";
    for (const sql::JsonValue& file : day["cleanup"].items) {
      rendered += "    " + std::string(file["action"].text == "delete" ? "delete " : "keep   ") +
                  file["file"].text + " (" + file["reason"].text + ")\n";
    }
  }
  EXPECT_EQ(text.substr(text.find("\n2024-03-25")), rendered);
  for (const char* line :
       {"  full backup: due from 23:45 — may be missed (ticks are 1800 s apart)\n",
        "    delete TremoLandix(20240315).ful (deleted after today's full backup)\n",
        "    delete TremoLandix(20240314).inc (deleted after today's differential backup)\n",
        "    delete TremoLandix(20240201).ful (older than the retention)\n",
        "    keep   TremoLandix(20240329).ful (the newest of its database and extension)\n",
        "    keep   TremoLandix(2024).ful (not of its own name form)\n",
        "    keep   TremoLandix(20240325).inc (younger than the retention)\n",
        "    keep   TremoLandix(20240102).trf (no write bit",
        "  weekly key-part run: due from 01:00 for QuendrilaxoShop\n"}) {
    EXPECT_NE(text.find(line), std::string::npos) << line << text;
  }
}

}  // namespace
}  // namespace mvx
