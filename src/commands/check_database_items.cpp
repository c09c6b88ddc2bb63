#include "commands/check_database_items.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <map>

#include "backup/backup_engine.h"
#include "backup/backup_file_name.h"
#include "backup/disk_root_path.h"
#include "commands/schedule_words.h"
#include "common/host_info.h"
#include "common/json_text.h"
#include "common/text_util.h"
#include "db/database.h"
#include "maintenance/key_part_statements.h"
#include "service/image_database.h"

namespace mvx {
namespace {

long long MinuteNumber(const LocalDateTime& t) {
  return DayNumber(t) * 1440 + t.hour * 60 + t.minute;
}

// "yyyy-mm-dd hh:mm:ss..." or "yyyymmdd" as a local time; nullopt for anything else.
std::optional<LocalDateTime> ParseTimeText(const std::string& text) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
  if (text.size() == 8 && std::sscanf(text.c_str(), "%4d%2d%2d", &y, &mo, &d) == 3) {
    return LocalDateTime::Make(y, mo, d);
  }
  if (std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d", &y, &mo, &d, &h, &mi, &s) >= 3) {
    return LocalDateTime::Make(y, mo, d, h, mi, s);
  }
  return std::nullopt;
}

std::string IsoTime(const LocalDateTime& t) {
  char text[24];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                t.minute, t.second);
  return text;
}

}  // namespace

CheckItem DatabaseChecks::ServerItem() {
  ConnectionParams params = ConfiguredConnectionParams(settings_);
  params.portOverride = options_.databasePort;
  const std::string what = "SQL Server " + params.hostName + " as " + params.userName;
  try {
    connection_.SetParams(params);
    connection_.Open();
    connected_ = true;
    SqlQuery query(connection_);
    query.Open("select @@SERVERNAME, SERVERPROPERTY('ProductVersion')");
    const std::string name = query.FieldText(0), version = query.FieldText(1);
    query.Close();
    std::string detail = what + ": " + name + ", version " + version;
    const std::string joins = BrivellonJoins();
    if (!joins.empty()) detail += "; " + joins;
    return MakeCheckItem(CheckStatus::kOk, "SQL Server", detail,
                         {{"serverName", JsonQuote(name)}, {"version", JsonQuote(version)}});
  } catch (const std::exception& e) {
    return MakeCheckItem(CheckStatus::kFail, "SQL Server", what + ": " + e.what());
  }
}

std::string DatabaseChecks::BrivellonJoins() {
  SqlQuery query(connection_);
  query.Open(kImageDatabaseQuery);
  const bool exists = query.FieldInt(0) > 0;
  query.Close();
  if (!exists || ImageDatabaseListed(settings_)) return "";
  const std::optional<std::size_t> slot = AddImageDatabase(settings_);
  if (!slot) return "";
  return std::string(kImageDatabase) + " joins slot " + std::to_string(*slot + 1) +
         " at the next start";
}

void DatabaseChecks::ReadBackupFolder() {
  try {
    listing_ = BackupFolderListing::Read(settings_.bkPath);
  } catch (const std::exception&) {
    // The slot items say the folder is not readable here.
  }
}

// The newest name of a database's files of one extension in the folder.
std::string DatabaseChecks::NewestFile(const std::string& database, std::size_t extension) {
  if (!listing_) return "";
  const BackupFolderListing::Group* files = listing_->Find(extension, UpperAscii(database));
  if (files == nullptr) return "";
  std::string newest;
  for (const std::string& name : *files) {
    if (newest.empty() || ParseBackupFileName(name)->stamp > ParseBackupFileName(newest)->stamp) {
      newest = name;
    }
  }
  return newest;
}

// The newest backup of a kind the server recorded, "finished <time> to <file>".
std::string DatabaseChecks::ServerBackup(const std::string& database, char type,
                                         std::vector<CheckFigure>& figures) {
  const std::string key = type == 'D' ? "serverFull" : "serverDifferential";
  try {
    SqlQuery query(connection_);
    query.Open(
        "select top 1 b.backup_finish_date, m.physical_device_name from msdb.dbo.backupset b "
        "join msdb.dbo.backupmediafamily m on m.media_set_id = b.media_set_id "
        "where b.database_name = N" +
        SqlLiteral(database) + "and b.type = '" + std::string(1, type) +
        "' order by b.backup_finish_date desc");
    if (query.Eof()) return "none";
    const std::string finished = query.FieldText(0), file = query.FieldText(1);
    const std::optional<LocalDateTime> at = ParseTimeText(finished);
    if (at) {
      figures.push_back({key + "Finished", JsonQuote(IsoTime(*at))});
      figures.push_back(
          {key + "AgeHours", std::to_string((MinuteNumber(now_) - MinuteNumber(*at)) / 60)});
    }
    figures.push_back({key + "File", JsonQuote(file)});
    return finished + " to " + file;
  } catch (const std::exception& e) {
    return std::string("not readable (") + e.what() + ")";
  }
}

CheckItem DatabaseChecks::SlotItem(std::size_t slot) {
  const std::string& database = settings_.databases[slot];
  const std::string item = "Slot " + std::to_string(slot + 1) + " " + database;
  std::vector<CheckFigure> figures = {{"database", JsonQuote(database)}};
  if (!connected_)
    return MakeCheckItem(CheckStatus::kFail, item, "not checked: no connection", figures);
  CheckStatus status = CheckStatus::kOk;
  std::vector<std::string> notes;
  try {
    SqlQuery query(connection_);
    query.Open("select state_desc, recovery_model_desc from sys.databases where name = N" +
               SqlLiteral(database));
    if (query.Eof())
      return MakeCheckItem(CheckStatus::kFail, item, "missing on the server", figures);
    const std::string state = query.FieldText(0), recovery = query.FieldText(1);
    query.Close();
    figures.push_back({"state", JsonQuote(state)});
    figures.push_back({"recoveryModel", JsonQuote(recovery)});
    if (state != "ONLINE") {
      return MakeCheckItem(CheckStatus::kFail, item, "not ONLINE but " + state, figures);
    }
    notes.push_back("ONLINE, recovery " + recovery);
    query.Open("select IS_SRVROLEMEMBER('sysadmin'), HAS_PERMS_BY_NAME(N" + SqlLiteral(database) +
               ", 'DATABASE', 'BACKUP DATABASE')");
    const bool mayBackUp = query.FieldText(0) == "1" || query.FieldText(1) == "1";
    query.Close();
    if (!mayBackUp) {
      status = CheckStatus::kFail;
      notes.push_back("the login may not back it up");
    }
  } catch (const std::exception& e) {
    return MakeCheckItem(CheckStatus::kFail, item, std::string("not readable: ") + e.what(),
                         figures);
  }
  notes.push_back("server's newest full " + ServerBackup(database, 'D', figures));
  notes.push_back("differential " + ServerBackup(database, 'I', figures));
  if (!listing_) {
    notes.push_back("backup folder not readable here");
    if (status == CheckStatus::kOk) status = CheckStatus::kWarn;
    return MakeCheckItem(status, item, JoinedByCommas(notes), figures);
  }
  const std::string full = NewestFile(database, 0), differential = NewestFile(database, 1);
  notes.push_back("newest files " + (full.empty() ? "(no .ful)" : full) + ", " +
                  (differential.empty() ? "(no .inc)" : differential));
  figures.push_back({"newestFullFile", full.empty() ? "null" : JsonQuote(full)});
  figures.push_back(
      {"newestDifferentialFile", differential.empty() ? "null" : JsonQuote(differential)});
  const int allowed = AllowedFullBackupAge(settings_, now_);
  if (allowed > 0) {
    const long long today = DayNumber(now_);
    if (full.empty()) {
      notes.push_back("no full backup file");
      if (status == CheckStatus::kOk) status = CheckStatus::kWarn;
    } else {
      const LocalDateTime stamp = *ParseTimeText(ParseBackupFileName(full)->stamp);
      const long long age = today - DayNumber(stamp);
      figures.push_back(
          {"newestFullAgeHours", std::to_string((MinuteNumber(now_) - MinuteNumber(stamp)) / 60)});
      if (age > allowed) {
        notes.push_back("the newest full file is " + std::to_string(age) +
                        " days old, the schedule allows " + std::to_string(allowed));
        if (status == CheckStatus::kOk) status = CheckStatus::kWarn;
      }
    }
  }
  return MakeCheckItem(status, item, JoinedByCommas(notes), figures);
}

CheckItem DatabaseChecks::FolderItem() {
  const std::string item = "Backup folder";
  CheckStatus status = CheckStatus::kOk;
  std::vector<std::string> notes;
  std::vector<CheckFigure> figures = {{"folder", JsonQuote(settings_.bkPath)}};
  if (!connected_) {
    status = CheckStatus::kFail;
    notes.push_back(settings_.bkPath + ": not checked on the server (no connection)");
  } else {
    try {
      SqlQuery query(connection_);
      query.Open("EXEC master.dbo.xp_fileexist N" + SqlLiteral(settings_.bkPath));
      const bool directory = query.FieldText(1) == "1";
      query.Close();
      figures.push_back({"serverSeesDirectory", directory ? "true" : "false"});
      notes.push_back(settings_.bkPath +
                      (directory ? " is a folder for the server" : " is no folder for the server"));
      if (!directory) status = CheckStatus::kFail;
    } catch (const std::exception& e) {
      status = CheckStatus::kFail;
      notes.push_back(settings_.bkPath + ": " + e.what());
    }
  }
  const std::string root = DiskRootPath(settings_.dbPath);
  const std::uint64_t freeBytes =
      options_.freeSpace ? options_.freeSpace(root) : GetFreeDiskBytes(root);
  figures.push_back({"freeBytes", std::to_string(freeBytes)});
  notes.push_back(std::to_string(freeBytes / kBytesPerMegabyte) + " MB free on " + root);
  if (DiskSpaceShort(freeBytes)) {
    notes.back() += " (under " + std::to_string(kWarningMegabytes) + " MB)";
    if (status == CheckStatus::kOk) status = CheckStatus::kWarn;
  }
  return MakeCheckItem(status, item, JoinedByCommas(notes), figures);
}

std::string DatabaseChecks::TransportMode() {
  if (!connected_) return "1";
  try {
    SqlQuery query(connection_);
    query.Open("select C005 from T0246");
    const std::string mode = TrimBlanks(query.FieldText("C005"));
    return mode.empty() ? "1" : mode;
  } catch (const std::exception&) {
    return "1";
  }
}

std::vector<CheckItem> DatabaseChecks::KeyPartItems() {
  std::vector<CheckItem> items;
  static const std::map<std::string, std::string, std::less<>> kRequestStates = {
      {"3", "requested"}, {"2", "running"}, {"1", "completed"}, {"0", "failed"}};
  bool any = false;
  for (std::size_t slot = 0; slot < settings_.databases.size(); ++slot) {
    if (!KeyPartEligible(settings_.databases[slot])) continue;
    any = true;
    const std::string& database = settings_.databases[slot];
    const std::string item = "Key-part " + database;
    if (!connected_) {
      items.push_back(MakeCheckItem(CheckStatus::kWarn, item, "T0500 not readable: no connection"));
      continue;
    }
    try {
      SqlQuery query(connection_);
      query.Open(ReadKeyPartStatusStatement(database));
      const std::string state = query.Eof() ? "" : TrimBlanks(query.FieldText(0));
      const std::string completed = query.Eof() ? "" : TrimBlanks(query.FieldText(1));
      const auto found = kRequestStates.find(state);
      items.push_back(MakeCheckItem(
          CheckStatus::kOk, item,
          "T0500 state " + (found != kRequestStates.end() ? found->second : "\"" + state + "\"") +
              ", last completed " + (completed.empty() ? "never" : completed),
          {{"state", JsonQuote(state)}, {"lastCompleted", JsonQuote(completed)}}));
    } catch (const std::exception& e) {
      items.push_back(
          MakeCheckItem(CheckStatus::kWarn, item, std::string("T0500 not readable: ") + e.what()));
    }
  }
  if (!any) items.push_back(MakeCheckItem(CheckStatus::kOk, "Key-part", "no slot is eligible"));
  return items;
}

}  // namespace mvx
