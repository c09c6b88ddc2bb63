#include "commands/check_log_backup_items.h"

#include <exception>
#include <optional>
#include <string>

#include "backup/backup_file_name.h"
#include "backup/backup_folder_listing.h"
#include "commands/agent_start.h"
#include "common/json_text.h"
#include "common/text_util.h"
#include "companion/service_control.h"
#include "service/event_log.h"

namespace mvx {
namespace {

// Log backups this many intervals late while the agent runs mean they have stopped.
constexpr int kLateIntervals = 3;

long long MinuteOf(const LocalDateTime& t) { return DayNumber(t) * 1440 + t.hour * 60 + t.minute; }

// "yyyymmdd-hhmmss" of a log backup's name as a time.
LocalDateTime StampTime(const std::string& stamp) {
  const auto number = [&](std::size_t at, std::size_t length) {
    return std::stoi(stamp.substr(at, length));
  };
  return LocalDateTime::Make(number(0, 4), number(4, 2), number(6, 2), number(9, 2), number(11, 2),
                             number(13, 2));
}

bool AgentRunning(const ServiceOptions& options, const std::string& agentDir) {
  bool running = false;
  AskServiceManager(options, agentDir, [&](ServiceControl& control) {
    const int state = control.QueryServiceState(kServiceName);
    running = state == kServiceRunning || state == kServicePaused;  // a pause stops no backup
  });
  return running;
}

// The recovery model the slot item read, empty when it read none.
std::string RecoveryModel(const std::vector<CheckItem>& slotItems, const std::string& database) {
  const std::string name = JsonQuote(database);
  for (const CheckItem& item : slotItems) {
    bool ours = false;
    std::string model;
    for (const CheckFigure& figure : item.figures) {
      if (figure.name == "database") ours = figure.json == name;
      if (figure.name == "recoveryModel" && figure.json.size() >= 2) {
        model = figure.json.substr(1, figure.json.size() - 2);
      }
    }
    if (ours) return model;
  }
  return {};
}

}  // namespace

std::vector<CheckItem> LogBackupItems(const OperatorSettings& loaded, const ServiceOptions& options,
                                      const std::vector<CheckItem>& slotItems, const Clock& clock) {
  const Settings& settings = loaded.settings;
  std::vector<CheckItem> items;
  if (settings.logBackupMinutes <= 0) return items;
  const LocalDateTime now = clock.Now();
  const bool running = AgentRunning(options, loaded.agentDir);
  std::optional<BackupFolderListing> listing;
  try {
    listing = BackupFolderListing::Read(settings.bkPath);
  } catch (const std::exception&) {
    // The folder item says why; here the newest log backup is simply not known.
  }
  const std::string nowStamp = LogBackupFileName("", "", now).substr(2, kLogBackupStampLength);
  const long long allowed = static_cast<long long>(kLateIntervals) * settings.logBackupMinutes;
  for (const std::string& database : settings.databases) {
    if (database.empty()) continue;
    const std::string model = RecoveryModel(slotItems, database);
    std::vector<CheckFigure> figures = {{"database", JsonQuote(database)},
                                        {"everyMinutes", std::to_string(settings.logBackupMinutes)},
                                        {"agentRunning", running ? "true" : "false"}};
    std::vector<std::string> notes = {"every " + std::to_string(settings.logBackupMinutes) +
                                      " min"};
    CheckStatus status = CheckStatus::kOk;
    if (!model.empty() && model != "FULL") {
      notes.push_back("recovery " + model + ", not FULL: no log backups");
      status = CheckStatus::kWarn;
    }
    // A name from the future (a clock set back, a hand-made file) must not hide stale ones.
    std::string newest, newestStamp;
    if (listing) {
      if (const BackupFolderListing::Group* logs = listing->FindLogBackups(UpperAscii(database))) {
        for (const std::string& name : *logs) {
          const std::string stamp = ParseLogBackupFileName(name)->stamp;
          if (stamp > newestStamp && stamp <= nowStamp) {
            newest = name;
            newestStamp = stamp;
          }
        }
      }
    }
    std::optional<long long> age;
    if (!newest.empty()) {
      age = MinuteOf(now) - MinuteOf(StampTime(newestStamp));
      notes.push_back("newest " + newest + ", " + std::to_string(*age) + " min old");
      figures.push_back({"newestLogBackupFile", JsonQuote(newest)});
      figures.push_back({"newestLogBackupAgeMinutes", std::to_string(*age)});
    } else {
      notes.push_back(listing ? "no log backup file" : "backup folder not readable here");
    }
    if (running && status == CheckStatus::kOk && listing && (!age || *age > allowed)) {
      notes.push_back("older than three intervals while the agent runs");
      status = CheckStatus::kFail;
    }
    if (!running) notes.push_back("the agent is not running");
    items.push_back(
        MakeCheckItem(status, "Log backups " + database, JoinedByCommas(notes), figures));
  }
  return items;
}

}  // namespace mvx
