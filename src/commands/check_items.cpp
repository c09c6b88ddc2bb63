#include "commands/check_items.h"

#include <string>
#include <vector>

#include "commands/check_database_items.h"
#include "commands/check_host_items.h"
#include "commands/check_log_backup_items.h"
#include "commands/schedule_words.h"
#include "common/json_text.h"
#include "common/text_util.h"

namespace mvx {
namespace {

CheckItem SettingsItem(const OperatorSettings& loaded) {
  const Settings& settings = loaded.settings;
  std::vector<std::string> slots;
  std::string slotsJson;
  for (const std::string& name : settings.databases) {
    if (name.empty()) continue;
    slots.push_back(name);
    slotsJson += (slotsJson.empty() ? "" : ",") + JsonQuote(name);
  }
  const std::string file = loaded.fileExists ? loaded.path : "built-in defaults";
  std::string detail = file + "; slots " + (slots.empty() ? "(none)" : JoinedByCommas(slots)) +
                       "; " + ScheduleInWords(settings);
  std::vector<CheckFigure> figures = {{"file", loaded.fileExists ? JsonQuote(loaded.path) : "null"},
                                      {"slots", "[" + slotsJson + "]"},
                                      {"backupFolder", JsonQuote(settings.bkPath)},
                                      {"schedule", JsonQuote(ScheduleInWords(settings))}};
  if (settings.bkPath.empty()) {
    return MakeCheckItem(CheckStatus::kFail, "Settings", detail + "; BKPath is empty: no backups",
                         figures);
  }
  return MakeCheckItem(CheckStatus::kOk, "Settings", detail + "; backup folder " + settings.bkPath,
                       figures);
}

}  // namespace

std::vector<CheckItem> RunChecks(const OperatorSettings& loaded, const ServiceOptions& options,
                                 const Clock& clock) {
  const LocalDateTime now = clock.Now();
  std::vector<CheckItem> items;
  items.push_back(SettingsItem(loaded));
  Settings settings = loaded.settings;  // a copy: the check may add the image database
  DatabaseChecks database(settings, options, now);
  items.push_back(database.ServerItem());
  database.ReadBackupFolder();
  for (std::size_t slot = 0; slot < settings.databases.size(); ++slot) {
    if (!settings.databases[slot].empty()) items.push_back(database.SlotItem(slot));
  }
  for (CheckItem& item : LogBackupItems(loaded, options, items, clock)) {
    items.push_back(std::move(item));
  }
  items.push_back(database.FolderItem());
  items.push_back(SupportLinkItem(options, database.TransportMode()));
  items.push_back(CompanionStateItem(options, loaded.agentDir, clock));
  for (CheckItem& item : database.KeyPartItems()) items.push_back(std::move(item));
  return items;
}

}  // namespace mvx
