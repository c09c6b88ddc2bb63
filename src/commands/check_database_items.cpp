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

// A lock held longer than this is a finding, not a wait: error 1222 comes back.
constexpr std::string_view kLockTimeout = "SET LOCK_TIMEOUT 5000";
constexpr int kLockTimeoutError = 1222;

// A query object bound like every statement of the check.
struct BoundQuery : SqlQuery {
  explicit BoundQuery(SqlConnection& connection) : SqlQuery(connection) {
    SetTimeLimit(SqlConnection::kShortStatementLimit);
  }
};

bool Locked(const std::exception& e) {
  const auto* sql = dynamic_cast<const SqlError*>(&e);
  return sql != nullptr && sql->nativeError() == kLockTimeoutError;
}

// "2024.03.12", "2024-03-12 ..." or "20240312" as a date; nullopt for anything else.
std::optional<LocalDateTime> DateOfDigits(const std::string& text) {
  std::string digits;
  for (const char c : text.substr(0, 10)) {
    if (c >= '0' && c <= '9') digits += c;
  }
  if (digits.size() != 8) return std::nullopt;
  return ParseTimeText(digits);
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
    BoundQuery query(connection_);
    query.Execute(kLockTimeout);
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
  BoundQuery query(connection_);
  query.Open(kImageDatabaseQuery);
  const bool exists = query.FieldInt(0) > 0;
  query.Close();
  if (!exists || ImageDatabaseListed(settings_)) return "";
  const std::optional<std::size_t> slot = AddImageDatabase(settings_);
  if (!slot) return "";
  return std::string(kImageDatabase) + " joins slot " + std::to_string(*slot + 1) +
         " at the next start";
}

// The newest backup of a kind the server recorded, "finished <time> to <file>".
std::string DatabaseChecks::ServerBackup(const std::string& database, char type,
                                         std::vector<CheckFigure>& figures, CheckStatus& status) {
  const std::string key = type == 'D' ? "serverFull" : "serverDifferential";
  try {
    BoundQuery query(connection_);
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
    // The history is for reading only: a lock or a slow msdb is worth a warning, no more.
    status = Worse(status, CheckStatus::kWarn);
    return std::string(Locked(e) ? "locked (" : "not readable (") + e.what() + ")";
  }
}

bool DatabaseChecks::FullPassDue() const {
  return settings_.fullType == "1" || settings_.fullType == "2" || settings_.fullType == "3";
}

CheckItem DatabaseChecks::SlotItem(std::size_t slot) {
  const std::string& database = settings_.databases[slot];
  const std::string item = "Slot " + std::to_string(slot + 1) + " " + database;
  std::vector<CheckFigure> figures = {{"database", JsonQuote(database)}};
  const auto made = [&](CheckStatus status, std::string detail) {
    CheckItem made = MakeCheckItem(status, item, std::move(detail), figures);
    made.mergeKey = SlotKey(database);
    return made;
  };
  if (!connected_) return made(CheckStatus::kFail, "not checked: no connection");
  CheckStatus status = CheckStatus::kOk;
  std::vector<std::string> notes;
  try {
    BoundQuery query(connection_);
    query.Open("select state_desc, recovery_model_desc from sys.databases where name = N" +
               SqlLiteral(database));
    if (query.Eof()) return made(CheckStatus::kFail, "missing on the server");
    const std::string state = query.FieldText(0), recovery = query.FieldText(1);
    query.Close();
    figures.push_back({"state", JsonQuote(state)});
    figures.push_back({"recoveryModel", JsonQuote(recovery)});
    if (state != "ONLINE") return made(CheckStatus::kFail, "not ONLINE but " + state);
    notes.push_back("ONLINE, recovery " + recovery);
    // The full pass also switches the recovery model (ALTER) and shrinks the log (db_owner's
    // CONTROL); a sysadmin may do all of it.
    const std::string name = SqlLiteral(database);
    query.Open("select IS_SRVROLEMEMBER('sysadmin'), HAS_PERMS_BY_NAME(N" + name +
               ", 'DATABASE', 'BACKUP DATABASE'), HAS_PERMS_BY_NAME(N" + name +
               ", 'DATABASE', 'ALTER'), HAS_PERMS_BY_NAME(N" + name + ", 'DATABASE', 'CONTROL')");
    const bool sysadmin = query.FieldText(0) == "1";
    const auto may = [&](int field) { return sysadmin || query.FieldText(field) == "1"; };
    const bool backUp = may(1), alter = may(2), shrink = may(3);
    query.Close();
    if (!backUp) notes.push_back("the login may not back it up");
    if (FullPassDue() && !alter) notes.push_back("the login may not change its recovery model");
    if (FullPassDue() && !shrink) notes.push_back("the login may not shrink its log");
    if (!backUp || (FullPassDue() && (!alter || !shrink))) status = CheckStatus::kFail;
  } catch (const std::exception& e) {
    if (Locked(e)) return made(CheckStatus::kWarn, std::string("locked: ") + e.what());
    return made(CheckStatus::kFail, std::string("not readable: ") + e.what());
  }
  notes.push_back("server's newest full " + ServerBackup(database, 'D', figures, status));
  notes.push_back("differential " + ServerBackup(database, 'I', figures, status));
  return made(status, JoinedByCommas(notes));
}

CheckItem DatabaseChecks::FolderItem() {
  CheckItem item = MakeCheckItem(CheckStatus::kOk, "Backup folder", "",
                                 {{"folder", JsonQuote(settings_.bkPath)}});
  item.mergeKey = std::string(kFolderKey);
  if (!connected_) {
    item.status = CheckStatus::kFail;
    item.detail = settings_.bkPath + ": not checked on the server (no connection)";
    return item;
  }
  try {
    BoundQuery query(connection_);
    query.Open("EXEC master.dbo.xp_fileexist N" + SqlLiteral(settings_.bkPath));
    const bool directory = query.FieldText(1) == "1";
    query.Close();
    item.figures.push_back({"serverSeesDirectory", directory ? "true" : "false"});
    item.detail = settings_.bkPath +
                  (directory ? " is a folder for the server" : " is no folder for the server");
    if (!directory) item.status = CheckStatus::kFail;
  } catch (const std::exception& e) {
    item.status = Locked(e) ? CheckStatus::kWarn : CheckStatus::kFail;
    item.detail = settings_.bkPath + ": " + e.what();
  }
  return item;
}

std::string DatabaseChecks::TransportMode() {
  if (!connected_) return "1";
  try {
    BoundQuery query(connection_);
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
      BoundQuery query(connection_);
      query.Open(ReadKeyPartStatusStatement(database));
      const std::string state = query.Eof() ? "" : TrimBlanks(query.FieldText(0));
      const std::string completed = query.Eof() ? "" : TrimBlanks(query.FieldText(1));
      const std::string started = query.Eof() ? "" : TrimBlanks(query.FieldText(2));
      const auto found = kRequestStates.find(state);
      std::string detail = "T0500 state " +
                           (found != kRequestStates.end() ? found->second : "\"" + state + "\"") +
                           ", last completed " + (completed.empty() ? "never" : completed);
      CheckStatus status = CheckStatus::kOk;
      const std::optional<LocalDateTime> since = DateOfDigits(started);
      if (state == "0") {
        status = CheckStatus::kWarn;
        detail += "; the last key-part run failed";
      } else if (state == "2" && (!since || DayNumber(now_) - DayNumber(*since) > 1)) {
        status = CheckStatus::kWarn;
        detail += "; running since " + (started.empty() ? "an unknown day" : started) +
                  ", over a day: the run may have died";
      }
      items.push_back(MakeCheckItem(status, item, detail,
                                    {{"state", JsonQuote(state)},
                                     {"lastCompleted", JsonQuote(completed)},
                                     {"started", JsonQuote(started)}}));
    } catch (const std::exception& e) {
      items.push_back(
          MakeCheckItem(CheckStatus::kWarn, item, std::string("T0500 not readable: ") + e.what()));
    }
  }
  if (!any) items.push_back(MakeCheckItem(CheckStatus::kOk, "Key-part", "no slot is eligible"));
  return items;
}

}  // namespace mvx
