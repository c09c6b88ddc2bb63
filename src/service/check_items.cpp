#include "service/check_items.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <exception>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <span>

#include "backup/backup_engine.h"
#include "backup/backup_folder_listing.h"
#include "backup/disk_root_path.h"
#include "common/date_text.h"
#include "common/host_info.h"
#include "common/json_text.h"
#include "common/text_log.h"
#include "common/text_util.h"
#include "companion/companion_installer.h"
#include "companion/service_control.h"
#include "db/database.h"
#include "db/sql_connection.h"
#include "maintenance/key_part_statements.h"
#include "service/plan_day.h"
#include "service/schedule.h"
#include "vendorlink/host_resolver.h"
#include "vendorlink/pinger.h"
#include "vendorlink/tcp_socket.h"

namespace mvx {
namespace {

constexpr int kNetworkWaitMs = 3000;
constexpr long long kDayMs = 86400000LL;
constexpr int kGapWindowDays = 800;  // two years and more: every rule repeats within it

const std::map<std::string, std::string, std::less<>> kWeekdayWords = {
    {"일", "Sundays"},   {"월", "Mondays"}, {"화", "Tuesdays"}, {"수", "Wednesdays"},
    {"목", "Thursdays"}, {"금", "Fridays"}, {"토", "Saturdays"}};

std::string Quoted(const std::string& text) { return JsonQuote(text); }

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

std::string RuleInWords(std::string_view kind, const std::string& type,
                        const std::vector<std::string>& days, const std::string& time,
                        std::string_view otherDaysOf) {
  std::string words(kind);
  if (type == "1") {
    words += " on days " + JoinedByCommas(days) + " of the month";
  } else if (type == "2") {
    std::vector<std::string> named;
    for (const std::string& day : days) {
      const auto found = kWeekdayWords.find(day);
      named.push_back(found != kWeekdayWords.end() ? found->second : "\"" + day + "\"");
    }
    words += otherDaysOf.empty() ? " on " + JoinedByCommas(named) : std::string(otherDaysOf);
  } else if (type == "3") {
    words += " every day";
  } else {
    return "no " + std::string(kind) + " backups";
  }
  words += " from " + (time.empty() ? std::string("00:00") : time);
  if (!ReachedToday(time)) words += " (never reached: hours need two digits)";
  return words;
}

std::vector<std::string> Listed(std::span<const std::string> days) {
  std::vector<std::string> listed;
  for (const std::string& day : days) {
    if (!day.empty()) listed.push_back(day);
  }
  return listed;
}

CheckItem Item(CheckStatus status, std::string item, std::string detail,
               std::vector<CheckFigure> figures = {}) {
  return CheckItem{status, std::move(item), std::move(detail), std::move(figures)};
}

// The checks that share one connection and its answers.
class Checks {
 public:
  Checks(const OperatorSettings& loaded, const ServiceOptions& options, const Clock& clock)
      : loaded_(loaded), settings_(loaded.settings), options_(options), clock_(clock) {}

  std::vector<CheckItem> Run() {
    now_ = clock_.Now();
    items_.push_back(SettingsItem());
    items_.push_back(ServerItem());
    ReadFolder();
    for (std::size_t slot = 0; slot < settings_.databases.size(); ++slot) {
      if (!settings_.databases[slot].empty()) items_.push_back(SlotItem(slot));
    }
    items_.push_back(FolderItem());
    items_.push_back(SupportItem());
    items_.push_back(CompanionItem());
    KeyPartItems();
    connection_.Close();
    return std::move(items_);
  }

 private:
  CheckItem SettingsItem() {
    std::vector<std::string> slots;
    std::string slotsJson;
    for (const std::string& name : settings_.databases) {
      if (name.empty()) continue;
      slots.push_back(name);
      slotsJson += (slotsJson.empty() ? "" : ",") + Quoted(name);
    }
    const std::string file = loaded_.fileExists ? loaded_.path : "built-in defaults";
    std::string detail = file + "; slots " + (slots.empty() ? "(none)" : JoinedByCommas(slots)) +
                         "; " + ScheduleInWords(settings_);
    std::vector<CheckFigure> figures = {
        {"file", loaded_.fileExists ? Quoted(loaded_.path) : "null"},
        {"slots", "[" + slotsJson + "]"},
        {"backupFolder", Quoted(settings_.bkPath)},
        {"schedule", Quoted(ScheduleInWords(settings_))}};
    if (settings_.bkPath.empty()) {
      return Item(CheckStatus::kFail, "Settings", detail + "; BKPath is empty: no backups",
                  figures);
    }
    return Item(CheckStatus::kOk, "Settings", detail + "; backup folder " + settings_.bkPath,
                figures);
  }

  CheckItem ServerItem() {
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
      return Item(CheckStatus::kOk, "SQL Server", detail,
                  {{"serverName", Quoted(name)}, {"version", Quoted(version)}});
    } catch (const std::exception& e) {
      return Item(CheckStatus::kFail, "SQL Server", what + ": " + e.what());
    }
  }

  // The start adds the image database to the first empty slot when the server has it.
  std::string BrivellonJoins() {
    SqlQuery query(connection_);
    query.Open("select count(*) from master.dbo.sysdatabases where name = 'Brivellon' ");
    const bool exists = query.FieldInt(0) > 0;
    query.Close();
    auto& slots = settings_.databases;
    if (!exists || std::any_of(slots.begin(), slots.end(), [](const std::string& slot) {
          return UpperAscii(slot) == "BRIVELLON";
        })) {
      return "";
    }
    const auto empty = std::find(slots.begin(), slots.end(), std::string());
    if (empty == slots.end()) return "";
    *empty = "Brivellon";
    return "Brivellon joins slot " + std::to_string(empty - slots.begin() + 1) +
           " at the next start";
  }

  void ReadFolder() {
    try {
      listing_ = BackupFolderListing::Read(settings_.bkPath);
    } catch (const std::exception& e) {
      folderError_ = e.what();
    }
  }

  // The newest name of a database's files of one extension in the folder.
  std::string NewestFile(const std::string& database, std::size_t extension) {
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
  std::string ServerBackup(const std::string& database, char type,
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
        figures.push_back({key + "Finished", Quoted(IsoTime(*at))});
        figures.push_back(
            {key + "AgeHours", std::to_string((MinuteNumber(now_) - MinuteNumber(*at)) / 60)});
      }
      figures.push_back({key + "File", Quoted(file)});
      return finished + " to " + file;
    } catch (const std::exception& e) {
      return std::string("not readable (") + e.what() + ")";
    }
  }

  CheckItem SlotItem(std::size_t slot) {
    const std::string& database = settings_.databases[slot];
    const std::string item = "Slot " + std::to_string(slot + 1) + " " + database;
    std::vector<CheckFigure> figures = {{"database", Quoted(database)}};
    if (!connected_) return Item(CheckStatus::kFail, item, "not checked: no connection", figures);
    CheckStatus status = CheckStatus::kOk;
    std::vector<std::string> notes;
    try {
      SqlQuery query(connection_);
      query.Open("select state_desc, recovery_model_desc from sys.databases where name = N" +
                 SqlLiteral(database));
      if (query.Eof()) return Item(CheckStatus::kFail, item, "missing on the server", figures);
      const std::string state = query.FieldText(0), recovery = query.FieldText(1);
      query.Close();
      figures.push_back({"state", Quoted(state)});
      figures.push_back({"recoveryModel", Quoted(recovery)});
      if (state != "ONLINE") {
        return Item(CheckStatus::kFail, item, "not ONLINE but " + state, figures);
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
      return Item(CheckStatus::kFail, item, std::string("not readable: ") + e.what(), figures);
    }
    notes.push_back("server's newest full " + ServerBackup(database, 'D', figures));
    notes.push_back("differential " + ServerBackup(database, 'I', figures));
    if (!listing_) {
      notes.push_back("backup folder not readable here");
      if (status == CheckStatus::kOk) status = CheckStatus::kWarn;
      return Item(status, item, JoinedByCommas(notes), figures);
    }
    const std::string full = NewestFile(database, 0), differential = NewestFile(database, 1);
    notes.push_back("newest files " + (full.empty() ? "(no .ful)" : full) + ", " +
                    (differential.empty() ? "(no .inc)" : differential));
    figures.push_back({"newestFullFile", full.empty() ? "null" : Quoted(full)});
    figures.push_back(
        {"newestDifferentialFile", differential.empty() ? "null" : Quoted(differential)});
    const int allowed = AllowedFullBackupAge(settings_, now_);
    if (allowed > 0) {
      const long long today = DayNumber(now_);
      if (full.empty()) {
        notes.push_back("no full backup file");
        if (status == CheckStatus::kOk) status = CheckStatus::kWarn;
      } else {
        const LocalDateTime stamp = *ParseTimeText(ParseBackupFileName(full)->stamp);
        const long long age = today - DayNumber(stamp);
        figures.push_back({"newestFullAgeHours",
                           std::to_string((MinuteNumber(now_) - MinuteNumber(stamp)) / 60)});
        if (age > allowed) {
          notes.push_back("the newest full file is " + std::to_string(age) +
                          " days old, the schedule allows " + std::to_string(allowed));
          if (status == CheckStatus::kOk) status = CheckStatus::kWarn;
        }
      }
    }
    return Item(status, item, JoinedByCommas(notes), figures);
  }

  CheckItem FolderItem() {
    const std::string item = "Backup folder";
    CheckStatus status = CheckStatus::kOk;
    std::vector<std::string> notes;
    std::vector<CheckFigure> figures = {{"folder", Quoted(settings_.bkPath)}};
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
        notes.push_back(settings_.bkPath + (directory ? " is a folder for the server"
                                                      : " is no folder for the server"));
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
    return Item(status, item, JoinedByCommas(notes), figures);
  }

  // The transport mode the tick reads: "2" is HTTP, anything else the line protocol.
  std::string TransportMode() {
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

  CheckItem SupportItem() {
    const LinkEndpoints& endpoints = options_.endpoints;
    const std::uint16_t port = TransportMode() == "2" ? endpoints.httpPort : endpoints.linePort;
    std::unique_ptr<Pinger> ownPinger;
    std::string pingerError;
    Pinger* pinger = options_.pinger;
    if (pinger == nullptr) {
      try {
        ownPinger = std::make_unique<IcmpPinger>(kNetworkWaitMs);
        pinger = ownPinger.get();
      } catch (const std::exception& e) {
        pingerError = e.what();
      }
    }
    HostResolver resolver(std::min(endpoints.resolveTimeoutMs, kNetworkWaitMs), nullptr);
    bool anyAnswered = false;
    std::vector<std::string> notes;
    std::string hostsJson;
    for (const std::string& host : {endpoints.primaryHost, endpoints.secondaryHost}) {
      const std::string address = resolver.Resolve(host);
      bool pinged = false, connected = false;
      std::string error = "unknown host";
      if (!address.empty()) {
        pinged = pinger != nullptr && pinger->Ping(address).answered;
        TcpSocket socket;
        connected = socket.Connect(address, port, kNetworkWaitMs, error);
      }
      anyAnswered = anyAnswered || (pinged && connected);
      if (address.empty()) {
        notes.push_back(host + ": name not resolved");
      } else {
        notes.push_back(host + (address == host ? "" : " (" + address + ")") + ": ping " +
                        (pinged ? "answered" : "no answer") + ", port " + std::to_string(port) +
                        (connected ? " open" : " closed"));
      }
      hostsJson += std::string(hostsJson.empty() ? "" : ",") + "{\"host\":" + Quoted(host) +
                   ",\"ping\":" + (pinged ? "true" : "false") +
                   ",\"connect\":" + (connected ? "true" : "false") + "}";
    }
    if (!pingerError.empty()) notes.push_back("ping unavailable: " + pingerError);
    return Item(anyAnswered ? CheckStatus::kOk : CheckStatus::kWarn, "Support link",
                JoinedByCommas(notes) + (anyAnswered ? "" : "; backups do not depend on it"),
                {{"port", std::to_string(port)}, {"hosts", "[" + hostsJson + "]"}});
  }

  CheckItem CompanionItem() {
    // The system's service manager only answers the query: its text log is never written.
    TextLog unusedLog(loaded_.agentDir, clock_);
    const std::atomic<bool> noStop{false};
    std::unique_ptr<ServiceControl> own;
    ServiceControl* control = options_.serviceControl;
    if (control == nullptr) {
      own = std::make_unique<SystemServiceControl>(unusedLog, noStop);
      control = own.get();
    }
    const int state = control->QueryServiceState(kCompanionServiceName);
    static const std::map<int, std::string> kStates = {
        {kServiceRunning, "running"},
        {kServiceStopped, "stopped"},
        {kServicePaused, "paused"},
        {kServiceStartPending, "starting"},
        {kServiceStopPending, "stopping"},
        {kServiceContinuePending, "resuming"},
        {kServicePausePending, "pausing"},
        {kServiceNotOpened, "not installed (or not accessible)"},
        {kManagerNotOpened, "service manager not reachable"}};
    const auto found = kStates.find(state);
    const std::string text = found != kStates.end() ? found->second : "state unknown";
    return Item(state == kServiceRunning ? CheckStatus::kOk : CheckStatus::kWarn, "Companion",
                std::string(kCompanionServiceName) + " " + text, {{"state", Quoted(text)}});
  }

  void KeyPartItems() {
    static const std::map<std::string, std::string, std::less<>> kRequestStates = {
        {"3", "requested"}, {"2", "running"}, {"1", "completed"}, {"0", "failed"}};
    bool any = false;
    for (std::size_t slot = 0; slot < settings_.databases.size(); ++slot) {
      if (!KeyPartEligible(settings_.databases[slot])) continue;
      any = true;
      const std::string& database = settings_.databases[slot];
      const std::string item = "Key-part " + database;
      if (!connected_) {
        items_.push_back(Item(CheckStatus::kWarn, item, "T0500 not readable: no connection"));
        continue;
      }
      try {
        SqlQuery query(connection_);
        query.Open(ReadKeyPartStatusStatement(database));
        const std::string state = query.Eof() ? "" : TrimBlanks(query.FieldText(0));
        const std::string completed = query.Eof() ? "" : TrimBlanks(query.FieldText(1));
        const auto found = kRequestStates.find(state);
        items_.push_back(Item(
            CheckStatus::kOk, item,
            "T0500 state " + (found != kRequestStates.end() ? found->second : "\"" + state + "\"") +
                ", last completed " + (completed.empty() ? "never" : completed),
            {{"state", Quoted(state)}, {"lastCompleted", Quoted(completed)}}));
      } catch (const std::exception& e) {
        items_.push_back(
            Item(CheckStatus::kWarn, item, std::string("T0500 not readable: ") + e.what()));
      }
    }
    if (!any) items_.push_back(Item(CheckStatus::kOk, "Key-part", "no slot is eligible"));
  }

  const OperatorSettings& loaded_;
  Settings settings_;  // a copy: the check may add the image database as the start would
  const ServiceOptions& options_;
  const Clock& clock_;
  LocalDateTime now_;
  SqlConnection connection_;
  bool connected_ = false;
  std::optional<BackupFolderListing> listing_;
  std::string folderError_;
  std::vector<CheckItem> items_;
};

}  // namespace

std::string ScheduleInWords(const Settings& s) {
  const std::vector<std::string> fullDays = Listed(s.fullDays), incDays = Listed(s.incDays);
  // Differential days that are exactly the weekdays without a full backup.
  std::set<std::string> week;
  for (const auto& [korean, words] : kWeekdayWords) week.insert(korean);
  std::set<std::string> rest = week;
  for (const std::string& day : fullDays) rest.erase(day);
  const bool otherDays = s.fullType == "2" && s.incType == "2" && rest.size() < week.size() &&
                         std::set<std::string>(incDays.begin(), incDays.end()) == rest;
  std::string words = RuleInWords("full", s.fullType, fullDays, s.fullTime, "");
  words += ", " + RuleInWords("differential", s.incType, incDays, s.incTime,
                              otherDays ? " on the other days" : "");
  words += ", every " + std::to_string(s.timerInt) + " s";
  const std::optional<int> kept = RetentionDays(s.save);
  words += kept ? ", " + std::to_string(*kept) + " days kept" : ", no cleanup";
  return words;
}

int AllowedFullBackupAge(const Settings& settings, const LocalDateTime& today) {
  const LocalDateTime start = AddMilliseconds(today, -kGapWindowDays * kDayMs);
  int last = -1, longest = 0;
  for (int i = 0; i <= kGapWindowDays; ++i) {
    if (!ReachedToday(ScheduleForDay(settings, AddMilliseconds(start, i * kDayMs)).fullFrom)) {
      continue;
    }
    if (last >= 0) longest = std::max(longest, i - last);
    last = i;
  }
  return longest > 0 ? longest + 1 : 0;
}

std::vector<CheckItem> RunChecks(const OperatorSettings& loaded, const ServiceOptions& options,
                                 const Clock& clock) {
  return Checks(loaded, options, clock).Run();
}

}  // namespace mvx
