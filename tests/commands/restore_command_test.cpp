#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "commands/operator_command.h"
#include "common/ansi_codec.h"
#include "common/profile_file.h"
#include "common/scramble.h"
#include "support/sql/sql_replies.h"
#include "support/temp_dir.h"

namespace mvx {
namespace {

namespace sql = mvx::testing;
using sql::Rows;

// The columns of RESTORE HEADERONLY that the commands read.
sql::SqlReply Header(std::string db, std::string type, std::string set, std::string base,
                     std::string finished = "") {
  return Rows({{"DatabaseName"},
               {"BackupType"},
               {"BackupSetGUID"},
               {"DifferentialBaseGUID"},
               {"BackupFinishDate"}},
              {{db, type, set, base, finished}});
}

class RestoreCommandTest : public ::testing::Test {
 protected:
  RestoreCommandTest() {
    ProfileFile ini(exe.file("RazuRarevi.ini"));
    for (const auto& [key, value] : {std::pair{"Name", "127.0.0.1"},
                                     {"BackupDB1", "TremoLandix"},
                                     {"BackupDB2", "Other"},
                                     {"BackupDB3", "Gone"}}) {
      ini.WriteString("DBServer", ScrambleValue(key), ScrambleValue(value));
    }
    ini.WriteString("RazuRarevi", ScrambleValue("BKPath"), ScrambleValue(ToAnsi(folder)));
    std::filesystem::create_directory(folder);
    for (const char* name : {"TremoLandix(20240308).ful", "TremoLandix(20240312).inc",
                             "TremoLandix(20240301).ful", "Other(20240310).ful"}) {
      backups.write("set/" + std::string(name), "");
    }
  }

  // A server without the restored databases, whose backups are the folder's files.
  void Serve() {
    server.addRule("^select name from master.dbo.sysdatabases", Rows({{"name"}}, {}));
    server.addRule("HEADERONLY.*TremoLandix\\(20240308", Header("TremoLandix", "1", "F1", ""));
    server.addRule("HEADERONLY.*TremoLandix\\(20240312", Header("TremoLandix", "5", "D1", "f1"));
    server.addRule("HEADERONLY.*TremoLandix\\(20240301", Header("TremoLandix", "1", "E1", ""));
    server.addRule("HEADERONLY.*Other", Header("Other", "1", "B1", ""));
    server.addRule("FILELISTONLY", Rows({{"LogicalName"}, {"Type"}},
                                        {{"Tl", "D"}, {"Tl_Log", "L"}, {"Tl_2", "D"}}));
    server.addRule("SERVERPROPERTY", Rows({{"DataPath"}, {"LogPath"}}, {{"/data/", "/log"}}));
    server.addRule("^RESTORE DATABASE", restored);
  }

  // The exit status and the output (error text included), with the folder left out.
  std::pair<int, std::string> Run(bool drill, const std::string& words) {
    // Words are split at blanks, or at "|" when there is one (a value with a blank).
    std::vector<std::string> args;
    if (words.find('|') == std::string::npos) {
      std::istringstream split(words);
      args.assign(std::istream_iterator<std::string>(split), {});
    } else {
      std::istringstream split(words);
      for (std::string word; std::getline(split, word, '|');) args.push_back(word);
    }
    ServiceOptions options;
    options.exeDir = exe.dir();
    options.databasePort = server.port();
    std::ostringstream out;
    const int status = drill ? RunRestoreTestCommand(args, options, clock, out, out)
                             : RunRestoreCommand(args, options, clock, out, out);
    return {status, Short(out.str())};
  }
  std::string Short(std::string text) const {
    for (std::size_t at; (at = text.find(folder + "\\")) != std::string::npos;) {
      text.erase(at, folder.size() + 1);
    }
    return text;
  }
  // The statements sent but the activity rows, separated by "|".
  std::string Sent() const {
    std::string sent;
    for (const std::string& text : server.batchTexts()) {
      if (text.rfind("insert into", 0) != 0) sent += (sent.empty() ? "" : "|") + Short(text);
    }
    return sent;
  }

  sql::ScriptedSqlServer server;
  sql::TempDir exe, backups;
  std::string folder = backups.file("set");
  sql::SqlReply restored{.infos = {{3211, "5 percent processed."},
                                   {3211, "100 percent processed."},
                                   {3014, "RESTORE DATABASE successfully processed 361 pages."}}};
  ManualClock clock{LocalDateTime::Make(2024, 3, 15, 18, 0)};
};

const std::string kExists = "select name from master.dbo.sysdatabases where name = N'";
const std::string kHeaders =
    "RESTORE HEADERONLY FROM DISK = N'TremoLandix(20240308).ful'|"
    "RESTORE HEADERONLY FROM DISK = N'TremoLandix(20240312).inc'";
// RESTORE DATABASE of the full (with `extra` options) and of the differential.
std::string Restores(const std::string& to, const std::string& extra = "") {
  const std::string from = "RESTORE DATABASE [" + to + "] FROM DISK = N'TremoLandix(202403";
  return from + "08).ful' WITH NORECOVERY, STATS = 5" + extra + "|" + from +
         "12).inc' WITH RECOVERY, STATS = 5";
}

TEST_F(RestoreCommandTest, RestoreSendsTheCheckedChain) {
  const std::string restores = Restores("TremoLandix");
  const std::string start = kExists + "TremoLandix'|" + kHeaders;
  sql::SqlReply refused = restored;
  refused.error = sql::SqlMessage{3159, "The tail of the log has not been backed up.", 16};
  const sql::SqlReply exists = Rows({{"name"}}, {{"TremoLandix"}});
  const std::string lists =
      "|RESTORE FILELISTONLY FROM DISK = N'TremoLandix(20240308).ful'|"
      "RESTORE FILELISTONLY FROM DISK = N'TremoLandix(20240312).inc'|";
  const std::string defaults =
      "select cast(SERVERPROPERTY('InstanceDefaultDataPath') as nvarchar(4000)) as DataPath, "
      "cast(SERVERPROPERTY('InstanceDefaultLogPath') as nvarchar(4000)) as LogPath";
  const std::string copyMoves =
      ", MOVE N'Tl' TO N'/data/Copy.mdf', MOVE N'Tl_Log' TO N'/log/Copy_log.ldf', MOVE N'Tl_2' "
      "TO N'/data/Copy_2.ndf'";
  const std::string moved = lists + defaults + "|" + Restores("Copy", copyMoves) + copyMoves +
                            ", MOVE N'Tl_3' TO N'/data/Copy_3.ndf'";
  const std::string copy = "TremoLandix_RestoreTest'";
  const sql::SqlReply none = Rows({{"name"}}, {});
  const sql::SqlReply present = Rows({{"name"}}, {{"x"}});
  const std::string ownFiles =
      "^select physical_name from master.sys.master_files where "
      "database_id = DB_ID\\(N'TremoLandix_RestoreTest'\\)$";
  const std::string filesQuery =
      "select physical_name from master.sys.master_files where "
      "database_id = DB_ID(N'TremoLandix_RestoreTest')";
  const std::string clearLeftover =
      "|" + defaults + "|" + filesQuery +
      "|ALTER DATABASE [TremoLandix_RestoreTest] SET "
      "SINGLE_USER WITH ROLLBACK IMMEDIATE|DROP DATABASE [TremoLandix_RestoreTest]|";
  const std::string odd = "T]'\xED\x95\x9C";  // a bracket, a quote and a Hangul syllable
  const std::string oddFile = "T]''\xED\x95\x9C(20240308).ful'";
  struct Rule {
    std::string pattern;
    sql::SqlReply reply;
    int times = -1;
  };
  using Rules = std::vector<Rule>;
  const std::optional<std::string> any;  // the statements sent are not compared

  struct Case {
    std::string words;
    Rules rules;  // before the fixture's
    int status;
    std::optional<std::string> sent;
    std::string said;                     // in the output
    std::vector<std::string> files = {};  // more backups in the folder
    bool drill = false, down = false;
  };
  // Log backups every quarter of an hour on the 14th, after the differential of the 12th.
  auto header = [](std::string type, std::string set, std::string base, std::string first,
                   std::string last, std::string finished) {
    return Rows({{"DatabaseName"},
                 {"BackupType"},
                 {"BackupSetGUID"},
                 {"DifferentialBaseGUID"},
                 {"FirstLSN"},
                 {"LastLSN"},
                 {"BackupFinishDate"}},
                {{"TremoLandix", type, set, base, first, last, finished}});
  };
  const std::vector<std::string> logFiles = {
      "TremoLandix(20240314-140000).trn", "TremoLandix(20240314-141500).trn",
      "TremoLandix(20240314-143000).trn", "TremoLandix(20240314-144500).trn"};
  auto withLogs = [&](Rules more) {
    Rules rules = {
        {"HEADERONLY.*20240308", header("1", "F1", "", "10", "90", "2024-03-08 17:00")},
        {"HEADERONLY.*20240312", header("5", "D1", "f1", "95", "150", "2024-03-12 17:00")},
        {"HEADERONLY.*140000", header("2", "L1", "", "100", "200", "2024-03-14 14:00:05")},
        {"HEADERONLY.*141500", header("2", "L2", "", "200", "300", "2024-03-14 14:15:05")},
        {"HEADERONLY.*143000", header("2", "L3", "", "300", "400", "2024-03-14 14:30:05")},
        {"HEADERONLY.*144500", header("2", "L4", "", "400", "500", "2024-03-14 14:45:05")}};
    rules.insert(rules.begin(), more.begin(), more.end());
    return rules;
  };
  const std::string logFrom = "RESTORE LOG [TremoLandix] FROM DISK = N'TremoLandix(20240314-1";
  // Half the free space of the disk that holds both temporary folders, for each of two files.
  const std::string half = std::to_string(std::filesystem::space(folder).available / 2);
  const std::vector<Case> cases = {
      {"TremoLandix", {}, 0, kHeaders, "\n  " + restores.substr(0, restores.find('|')) + "\n"},
      {"TremoLandix --date 2024-03-05",
       {},
       0,
       "RESTORE HEADERONLY FROM DISK = N'TremoLandix(20240301).ful'",
       "TremoLandix(20240301).ful' WITH RECOVERY"},
      {"TremoLandix --run", {}, 0, start + "|" + restores, "progress: 5% 100%"},
      {"TremoLandix --run --as Copy",
       {{"FILELISTONLY.*inc", Rows({{"LogicalName"}, {"Type"}},
                                   {{"Tl", "D"}, {"Tl_Log", "L"}, {"Tl_2", "D"}, {"Tl_3", "D"}})}},
       0,
       kExists + "Copy'|" + kHeaders + moved,
       "Copy."},
      {"TremoLandix --run",
       {{"sysdatabases", exists}},
       2,
       kExists + "TremoLandix'",
       "Add --replace"},
      {"TremoLandix --run --replace",
       {{"sysdatabases", exists}},
       0,
       start + "|" + Restores("TremoLandix", ", REPLACE"),
       "Restored"},
      // The newest differential's full is in no file: the full alone, and the operator is told.
      {"TremoLandix --run",
       {{"HEADERONLY.*ful", Header("TremoLandix", "1", "C0", "")},
        {"msdb.dbo.backupset where backup_set_uuid = N'f1'",
         Rows({{"backup_start_date"}}, {{"2024-03-10 12:00:00"}})}},
       0,
       start +
           "|RESTORE HEADERONLY FROM DISK = N'TremoLandix(20240301).ful'|select top 1 "
           "backup_start_date from msdb.dbo.backupset where backup_set_uuid = N'f1'|" +
           restores.substr(0, restores.find(" WITH")) + " WITH RECOVERY, STATS = 5",
       "taken outside this agent on 2024-03-10 12:00:00"},
      {"Other --run --as TremoLandix --replace",
       {{"HEADERONLY", Header("Brivellon", "1", "B1", "")}},
       2,
       kExists + "TremoLandix'|RESTORE HEADERONLY FROM DISK = N'Other(20240310).ful'",
       "not a full backup (type 1) of Other"},
      {"TremoLandix --run",
       {{"^RESTORE DATABASE", refused}},
       1,
       start + "|" + restores.substr(0, restores.find('|')),
       "tail of the log"},
      {"Gone --run", {}, 2, "", "no full backup of Gone"},
      {"TremoLandix --date 2024-02-30", {}, 2, "", "usage:"},
      // A full that failed and was retried, a differential of last week's full in between.
      {"TremoLandix",
       {{"HEADERONLY.*20240314\\).ful", Header("TremoLandix", "1", "N1", "")},
        {"HEADERONLY.*20240314\\).inc", Header("TremoLandix", "5", "D2", "F1")}},
       0,
       "RESTORE HEADERONLY FROM DISK = N'TremoLandix(20240314).ful'|RESTORE HEADERONLY FROM DISK "
       "= N'TremoLandix(20240314).inc'|RESTORE HEADERONLY FROM DISK = N'TremoLandix(20240308).ful'",
       "another full backup (TremoLandix(20240308).ful)\nChain:\n  full backup:         "
       "TremoLandix(20240314).ful\n  differential backup: none",
       {"TremoLandix(20240314).ful", "TremoLandix(20240314).inc"}},
      // An outside full on the 13th: the agent's full and its differential from before it.
      {"TremoLandix",
       {{"HEADERONLY.*20240314\\).inc", Header("TremoLandix", "5", "D4", "X1")},
        {"HEADERONLY.*20240313\\).tri", Header("TremoLandix", "5", "D3", "X1")}},
       0,
       kHeaders.substr(0, kHeaders.find('|')) +
           "|RESTORE HEADERONLY FROM DISK = N'TremoLandix(20240314).inc'|RESTORE HEADERONLY FROM "
           "DISK = N'TremoLandix(20240301).ful'|RESTORE HEADERONLY FROM DISK = "
           "N'TremoLandix(20240313).tri'|RESTORE HEADERONLY FROM DISK = N'TremoLandix(20240312)."
           "inc'|select top 1 backup_start_date from msdb.dbo.backupset where backup_set_uuid = "
           "N'X1'",
       "taken outside this agent\nChain:\n  full backup:         TremoLandix(20240308).ful\n  "
       "differential backup: TremoLandix(20240312).inc",
       {"TremoLandix(20240314).inc", "TremoLandix(20240313).tri"}},
      // A .ful and a .trf of one day: the later finish first, whatever the extension.
      {"TremoLandix",
       {{"HEADERONLY.*20240314\\).ful", Header("TremoLandix", "1", "N1", "", "2024-03-14 02:00")},
        {"HEADERONLY.*20240314\\).trf", Header("TremoLandix", "1", "T1", "", "2024-03-14 10:00")},
        {"HEADERONLY.*20240314\\).tri", Header("TremoLandix", "5", "D5", "t1")}},
       0,
       any,
       "(20240314).trf' WITH NORECOVERY, STATS = 5\n  RESTORE DATABASE [TremoLandix] FROM "
       "DISK = N'TremoLandix(20240314).tri' WITH RECOVERY",
       {"TremoLandix(20240314).ful", "TremoLandix(20240314).trf", "TremoLandix(20240314).tri"}},
      {"TremoLandix",
       {{"HEADERONLY.*20240314", sql::Error(3241, "The media family is incorrectly formed.")}},
       0,
       any,
       "skipped TremoLandix(20240314).ful: the server cannot read it: The media family",
       {"TremoLandix(20240314).ful"}},
      // Servers before the 2012 updates name no default folders: master's files' folders.
      {"TremoLandix --as Copy",
       {{"SERVERPROPERTY", Rows({{"DataPath"}, {"LogPath"}}, {{std::nullopt, std::nullopt}})},
        {"master.sys.master_files where database_id = 1$",
         Rows({{"type"}, {"physical_name"}},
              {{"0", "D:\\Sql\\master.mdf"}, {"1", "L:\\mastlog.ldf"}})}},
       0,
       any,
       "MOVE N'Tl' TO N'D:\\Sql\\Copy.mdf', MOVE N'Tl_Log' TO N'L:\\Copy_log.ldf'"},
      {"TremoLandix --data-dir /new",
       {},
       0,
       any,
       "MOVE N'Tl' TO N'/new/TremoLandix.mdf', MOVE N'Tl_Log' TO N'/log/TremoLandix_log.ldf'"},
      {"TremoLandix --data-dir E:\\D --log-dir F:\\",
       {},
       0,
       kHeaders + lists.substr(0, lists.size() - 1),
       "MOVE N'Tl_Log' TO N'F:\\TremoLandix_log.ldf', MOVE N'Tl_2' TO N'E:\\D\\TremoLandix_2.ndf'"},
      {odd + " --as C]'\xED\x95\x9C",
       {{"HEADERONLY.*T\\]''", Header(odd, "1", "K1", "")}},
       0,
       any,
       "RESTORE DATABASE [C]]'\xED\x95\x9C] FROM DISK = N'" + oddFile +
           " WITH RECOVERY, STATS = 5, MOVE N'Tl' TO N'/data/C]''\xED\x95\x9C.mdf'",
       {odd + "(20240308).ful"}},
      {"TremoLandix",
       {{"HEADERONLY.*20240308", Rows({{"DatabaseName"},
                                       {"BackupType"},
                                       {"BackupSetGUID"},
                                       {"DifferentialBaseGUID"},
                                       {"ServerName"}},
                                      {{"TremoLandix", "1", "F1", "", "OLDBOX"}})},
        {"@@SERVERNAME", Rows({{"ServerName"}}, {{"NEWBOX"}})}},
       0,
       any,
       "note: TremoLandix(20240308).ful was taken on OLDBOX, this server is NEWBOX"},
      {"TremoLandix --ini /no/such.ini --replace --run", {}, 1, "", "Unable to read /no/such.ini"},
      {"TremoLandix",
       {},
       1,
       "",
       "(headers not read):\n  full backup:         TremoLandix(20240308)",
       {},
       false,
       true},
      // The drill: a copy it cannot drop fails; a foreign copy stays; its own leftover goes.
      {"TremoLandix",
       {{copy, none, 2}, {copy, present}, {"^DROP", sql::Error(3702, "In use.")}},
       1,
       any,
       "FAILED: could not drop TremoLandix_RestoreTest: In use.",
       {},
       true},
      {"TremoLandix",
       {{ownFiles, Rows({{"physical_name"}}, {{"/data/TremoLandix_RestoreTest.ndf"}})},
        {copy, present}},
       1,
       kExists + copy + "|" + defaults + "|" + filesQuery,
       "a database named TremoLandix_RestoreTest exists that no restore test made",
       {},
       true},
      {"TremoLandix",
       {{ownFiles, Rows({{"physical_name"}}, {{"/data/TremoLandix_RestoreTest.mdf"},
                                              {"/log/TremoLandix_RestoreTest_log2.ldf"}})},
        {copy, present, 1},
        {copy, none, 1},
        {copy, present, 1}},
       0,
       kExists + copy + clearLeftover + kExists + copy + "|" + kHeaders + "|",
       "passed",
       {},
       true},
      {"TremoLandix",
       {{"SERVERPROPERTY", Rows({{"DataPath"}, {"LogPath"}}, {{folder, folder}})},
        {"FILELISTONLY",
         Rows({{"LogicalName"}, {"Type"}, {"Size"}}, {{"Tl", "D", "900000000000000000"}})}},
       1,
       any,
       "MB needed (the copy's 858306884766 MB plus 10%)",
       {},
       true},
      // Restores to a moment: inside the log backups, after the newest, before the differential
      // (whose full's logs are not in the folder: a gap), and to the newest state by default.
      {"TremoLandix|--at|2024-03-14 14:20", withLogs({}), 0, std::nullopt,
       "12).inc' WITH NORECOVERY, STATS = 5\n  " + logFrom + "40000).trn' WITH NORECOVERY\n  " +
           logFrom + "41500).trn' WITH NORECOVERY\n  " + logFrom +
           "43000).trn' WITH STOPAT = N'2024-03-14T14:20:00', RECOVERY\n",
       logFiles},
      {"TremoLandix|--at|2024-03-14 18:00", withLogs({}), 0, std::nullopt, "195 minutes before it",
       logFiles},
      {"TremoLandix|--at|2024-03-14 18:00", withLogs({}), 0, std::nullopt,
       "44500).trn' WITH RECOVERY\n", logFiles},
      {"TremoLandix|--at|2024-03-12 10:00:30|--run", withLogs({}), 2, std::nullopt,
       "a gap between TremoLandix(20240308).ful and TremoLandix(20240314-140000).trn", logFiles},
      {"TremoLandix",
       withLogs(
           {{"HEADERONLY.*143000", header("2", "L3", "", "310", "400", "2024-03-14 14:30:05")}}),
       2, std::nullopt,
       "gap between TremoLandix(20240314-141500).trn and TremoLandix(20240314-143000).trn",
       logFiles},
      {"TremoLandix", withLogs({}), 0, std::nullopt, "44500).trn' WITH RECOVERY\n", logFiles},
      {"TremoLandix", withLogs({}), 0, std::nullopt,
       "chain: TremoLandix(20240308).ful + TremoLandix(20240312).inc + 4 log backup(s)", logFiles,
       true},
      {"TremoLandix|--at|2024-03-14 25:00", {}, 2, "", "usage:"},
      {"TremoLandix|--at|2024-03-14 12:00",
       {},
       0,
       std::nullopt,
       "the newest, whose header does not say when it finished"},
      // A clock set back names a later log backup first: the LSNs give the order.
      {"TremoLandix",
       withLogs(
           {{"HEADERONLY.*141500", header("2", "L2", "", "300", "400", "2024-03-14 14:30:05")},
            {"HEADERONLY.*143000", header("2", "L3", "", "200", "300", "2024-03-14 14:15:05")}}),
       0, std::nullopt,
       "43000).trn' WITH NORECOVERY\n  " + logFrom + "41500).trn' WITH NORECOVERY\n  " + logFrom +
           "44500).trn' WITH RECOVERY\n",
       logFiles},
      // A day ends its logs; each log moves the files of its own list (one it added too).
      {"TremoLandix --date 2024-03-13", withLogs({}), 0, std::nullopt,
       "12).inc' WITH RECOVERY, STATS = 5\n", logFiles},
      {"TremoLandix --as Copy",
       withLogs({{"FILELISTONLY.*144500", Rows({{"LogicalName"}, {"Type"}},
                                               {{"Tl_Log", "L"}, {"Tl", "D"}, {"Tl_4", "D"}})}}),
       0, std::nullopt,
       "44500).trn' WITH RECOVERY, MOVE N'Tl_Log' TO N'/log/Copy_log.ldf', MOVE N'Tl' TO "
       "N'/data/Copy.mdf', MOVE N'Tl_4' TO N'/data/Copy_3.ndf'\n",
       logFiles},
      {"TremoLandix|--at|2024-03-08 10:00",
       withLogs({{"HEADERONLY.*0301", header("1", "E1", "", "1", "5", "2024-03-09 00:00")}}), 2,
       std::nullopt, "full backup of TremoLandix that the server can read finished before 2024"},
      // Two folders of one disk share its free space; a copy made meanwhile is not the drill's.
      {"TremoLandix",
       {{"SERVERPROPERTY", Rows({{"DataPath"}, {"LogPath"}}, {{folder, exe.dir()}})},
        {"FILELISTONLY",
         Rows({{"LogicalName"}, {"Type"}, {"Size"}}, {{"Tl", "D", half}, {"Tl_Log", "L", half}})}},
       1,
       any,
       "FAILED: not enough free space in ",
       {},
       true},
      {"TremoLandix",
       {{copy, none, 1}, {copy, present}},
       1,
       kExists + copy + "|" + kExists + copy,
       "exists that no restore test made",
       {},
       true},
      {"TremoLandix",
       {{ownFiles, Rows({{"physical_name"}}, {})}, {copy, present}},
       1,
       kExists + copy + "|" + defaults + "|" + filesQuery,
       "exists that no restore test made",
       {},
       true},
      {"TremoLandix --as Copy",
       {{"FILELISTONLY", Rows({{"LogicalName"}, {"Type"}}, {})}},
       1,
       any,
       "the server lists no files in "},
      // A differential of an unreadable full of the folder is no sign of an outside full.
      {"TremoLandix",
       {{"HEADERONLY.*20240314", sql::Error(3241, "The media family is incorrectly formed.")},
        {"HEADERONLY.*20240315", Header("TremoLandix", "5", "D9", "N1")}},
       0,
       any,
       "(20240315).inc: it belongs to another full backup (perhaps TremoLandix(20240314).ful, "
       "which the server cannot read)\nChain:",
       {"TremoLandix(20240314).ful", "TremoLandix(20240315).inc"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.words + (c.rules.empty() ? "" : " " + c.rules.front().pattern));
    server.clearRecords();
    server.clearRules();
    server.setDown(c.down);
    for (const Rule& rule : c.rules) server.addRule(rule.pattern, rule.reply, rule.times);
    Serve();
    // UTF-8 names, also where the narrow file functions take the ANSI code page.
    auto inFolder = [&](const std::string& file) {
      return std::filesystem::path(folder) / std::u8string(file.begin(), file.end());
    };
    for (const std::string& file : c.files) std::ofstream(inFolder(file)).put('x');
    const auto [status, said] = Run(c.drill, c.words);
    for (const std::string& file : c.files) std::filesystem::remove(inFolder(file));
    EXPECT_EQ(status, c.status) << said;
    // A text ending in "|" is what the statements sent begin with.
    if (c.sent && !c.sent->empty() && c.sent->back() == '|') {
      EXPECT_EQ(Sent().substr(0, c.sent->size()), *c.sent);
    } else if (c.sent) {
      EXPECT_EQ(Sent(), *c.sent);
    }
    EXPECT_NE(said.find(c.said), std::string::npos) << said;
  }
}

// Every database is restored as a copy, checked and dropped; one row per database lands in the
// slot-1 database's activity table, and the exit status says whether all passed.
TEST_F(RestoreCommandTest, RestoreTestChecksAndDropsACopyOfEachDatabase) {
  const std::string copy = "TremoLandix_RestoreTest'";
  server.addRule("^DBCC CHECKDB \\(\\[Other", sql::Error(8928, "Page (1:77) is damaged."));
  // The copy exists from its restore on, until it is dropped.
  server.addRule(copy, Rows({{"name"}}, {}), 2);
  server.addRule(copy, Rows({{"name"}}, {{"x"}}), 1);
  Serve();
  clock.SetStepMilliseconds(10);

  EXPECT_EQ(Run(true, "").first, 1);
  const std::string sent = Sent();
  EXPECT_EQ(sent.substr(0, sent.find("|RESTORE HEADERONLY")),
            kExists + copy + "|" + kExists + copy);
  EXPECT_NE(
      sent.find("_2.ndf'|RESTORE DATABASE [TremoLandix_RestoreTest] FROM DISK = N'TremoLandix("
                "20240312).inc' WITH RECOVERY, STATS = 5, MOVE N'Tl' TO "
                "N'/data/TremoLandix_RestoreTest.mdf"
                "', MOVE N'Tl_Log' TO N'/log/TremoLandix_RestoreTest_log.ldf', MOVE N'Tl_2' TO "
                "N'/data/TremoLandix_RestoreTest_2.ndf'|DBCC CHECKDB ([TremoLandix_"
                "RestoreTest]) WITH NO_INFOMSGS|" +
                kExists + copy +
                "|ALTER DATABASE [TremoLandix_RestoreTest] SET SINGLE_USER WITH ROLLBACK "
                "IMMEDIATE|DROP DATABASE [TremoLandix_RestoreTest]|" +
                kExists + "Other_RestoreTest"),
      std::string::npos);
  std::string rows;
  for (const sql::SqlBatch& batch : server.batches()) {
    if (batch.text.rfind("insert into T0245", 0) == 0 && batch.database == "TremoLandix") {
      const std::size_t from = batch.text.find("getDate() ,") + 11;
      rows += batch.text.substr(from, batch.text.rfind(" ,'RazuRarevi'") - from) + "\n";
    }
  }
  EXPECT_EQ(rows,
            "'TremoLandix' ,'Restore Test 완료'\n'Other' ,'Restore Test Fail!!!'\n"
            "'Gone' ,'Restore Test Fail!!!'\n");
  const std::string log = FromAnsi(exe.read("RazuRarevi.Log"));
  for (const char* line :
       {"완료 TremoLandix: TremoLandix(20240308).ful + TremoLandix(20240312).inc",
        "Fail!!! Other: Other(20240310).ful: DBCC CHECKDB reports: Page (1:77)",
        "Fail!!! Gone: no chain: no full backup of Gone"}) {
    EXPECT_NE(log.find(std::string("Restore Test ") + line), std::string::npos) << log;
  }
  EXPECT_EQ(Run(true, "TremoLandix").first, 0);
  EXPECT_EQ(Run(true, "a b").first, 2);
}

}  // namespace
}  // namespace mvx
