#include "commands/check_items.h"

#include <algorithm>
#include <exception>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "commands/agent_start.h"
#include "commands/check_board.h"
#include "commands/check_database_items.h"
#include "commands/check_folder_items.h"
#include "commands/check_host_items.h"
#include "commands/check_log_backup_items.h"
#include "commands/schedule_judgement.h"
#include "commands/schedule_words.h"
#include "common/json_text.h"
#include "common/text_util.h"
#include "maintenance/key_part_statements.h"

namespace mvx {
namespace {

using Steady = std::chrono::steady_clock;

// The support link needs the transport mode from the server, but never longer than leaves it
// time for its own pings and connects (two hosts, 3 s each at most, and the names).
constexpr std::chrono::seconds kLinkOwnTime{20};

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
  const ScheduleFindings findings = JudgeSchedule(settings);
  std::vector<CheckFigure> figures = {{"file", loaded.fileExists ? JsonQuote(loaded.path) : "null"},
                                      {"slots", "[" + slotsJson + "]"},
                                      {"backupFolder", JsonQuote(settings.bkPath)},
                                      {"schedule", JsonQuote(ScheduleInWords(settings))}};
  std::vector<std::string> failures;
  if (settings.bkPath.empty()) failures.push_back("BKPath is empty: no backups");
  if (!findings.neverDue.empty()) {
    failures.push_back("no full backup is ever due: " + JoinedByCommas(findings.neverDue));
  }
  const std::string warnings =
      findings.warnings.empty() ? "" : "; " + JoinedByCommas(findings.warnings);
  if (!failures.empty()) {
    return MakeCheckItem(CheckStatus::kFail, "Settings",
                         detail + "; " + JoinedByCommas(failures) + warnings, figures);
  }
  return MakeCheckItem(findings.warnings.empty() ? CheckStatus::kOk : CheckStatus::kWarn,
                       "Settings", detail + "; backup folder " + settings.bkPath + warnings,
                       figures);
}

// What the parts read from, owned by them: a part cut by the time limit may outlive the call.
struct CheckInputs {
  OperatorSettings loaded;
  ServiceOptions options;
  LocalDateTime now;
  Steady::time_point deadline;
};

// Runs a part on a thread of its own that the command never waits for beyond its limit.
template <typename Work>
void StartPart(const std::shared_ptr<CheckBoard>& board, Work work) {
  std::thread([board, work = std::move(work)]() mutable {
    try {
      work(*board);
    } catch (const std::exception&) {
      // A part that fails unexpectedly leaves its places unfinished: "not checked".
    }
  }).detach();
}

std::vector<CheckItem> Expected(std::initializer_list<std::string> names) {
  std::vector<CheckItem> items;
  for (const std::string& name : names) items.push_back(MakeCheckItem(CheckStatus::kOk, name, ""));
  return items;
}

std::vector<CheckItem> DatabaseExpected(const Settings& settings) {
  std::vector<CheckItem> items = Expected({"SQL Server"});
  for (std::size_t slot = 0; slot < settings.databases.size(); ++slot) {
    if (settings.databases[slot].empty()) continue;
    CheckItem item = MakeCheckItem(
        CheckStatus::kOk, "Slot " + std::to_string(slot + 1) + " " + settings.databases[slot], "");
    item.mergeKey = SlotKey(settings.databases[slot]);
    items.push_back(std::move(item));
  }
  CheckItem folder = MakeCheckItem(CheckStatus::kOk, "Backup folder", "");
  folder.mergeKey = std::string(kFolderKey);
  items.push_back(std::move(folder));
  return items;
}

std::vector<CheckItem> LogBackupExpected(const Settings& settings) {
  std::vector<CheckItem> items;
  if (settings.logBackupMinutes <= 0) return items;
  for (const std::string& name : settings.databases) {
    if (!name.empty()) items.push_back(MakeCheckItem(CheckStatus::kOk, "Log backups " + name, ""));
  }
  return items;
}

std::vector<CheckItem> KeyPartExpected(const Settings& settings) {
  std::vector<CheckItem> items;
  for (const std::string& name : settings.databases) {
    if (KeyPartEligible(name))
      items.push_back(MakeCheckItem(CheckStatus::kOk, "Key-part " + name, ""));
  }
  if (items.empty()) items = Expected({"Key-part"});
  return items;
}

}  // namespace

std::string SlotKey(const std::string& database) { return "slot:" + UpperAscii(database); }

CheckOutcome RunChecks(const OperatorSettings& loaded, const ServiceOptions& options,
                       const Clock& clock, std::chrono::seconds limit) {
  const auto inputs = std::make_shared<const CheckInputs>(
      CheckInputs{loaded, options, clock.Now(), Steady::now() + limit});
  const auto board = std::make_shared<CheckBoard>();
  // The places in the order shown; each part fills its own.
  board->Post(board->AddPlace({}), SettingsItem(loaded));
  board->Finish(0);
  const std::size_t agent = board->AddPlace(Expected({"Agent"}));
  const std::size_t database = board->AddPlace(DatabaseExpected(loaded.settings));
  const std::size_t logBackups = board->AddPlace(LogBackupExpected(loaded.settings));
  const std::size_t link = board->AddPlace(Expected({"Support link"}));
  const std::size_t companion = board->AddPlace(Expected({"Companion"}));
  const std::size_t keyParts = board->AddPlace(KeyPartExpected(loaded.settings));

  StartPart(board, [inputs](CheckBoard& b) {
    PostFolderFacts(inputs->loaded.settings, inputs->options, inputs->now, b);
  });
  StartPart(board, [inputs, database, logBackups, keyParts](CheckBoard& b) {
    Settings settings = inputs->loaded.settings;  // the check may add the image database
    DatabaseChecks checks(settings, inputs->options, inputs->now);
    b.Post(database, checks.ServerItem());
    b.PostTransportMode(checks.TransportMode());
    b.Expect(database, DatabaseExpected(settings));
    std::vector<CheckItem> slotItems;
    for (std::size_t slot = 0; slot < settings.databases.size(); ++slot) {
      if (settings.databases[slot].empty()) continue;
      slotItems.push_back(checks.SlotItem(slot));
      b.Post(database, slotItems.back());
    }
    b.Post(database, checks.FolderItem());
    b.Finish(database);
    const ManualClock checkTime(inputs->now);
    for (CheckItem& item : LogBackupItems(inputs->loaded, inputs->options, slotItems, checkTime)) {
      b.Post(logBackups, std::move(item));
    }
    b.Finish(logBackups);
    b.Expect(keyParts, KeyPartExpected(settings));
    for (CheckItem& item : checks.KeyPartItems()) b.Post(keyParts, std::move(item));
    b.Finish(keyParts);
  });
  StartPart(board, [inputs, link](CheckBoard& b) {
    const std::optional<std::string> mode =
        b.WaitTransportMode(std::max(Steady::now(), inputs->deadline - kLinkOwnTime));
    b.Post(link, SupportLinkItem(inputs->options, mode.value_or("1")));
    b.Finish(link);
  });
  StartPart(board, [inputs, agent, companion](CheckBoard& b) {
    b.Post(agent, AgentItem(inputs->loaded, QueryAgent(inputs->options, inputs->loaded.agentDir)));
    b.Finish(agent);
    b.Post(companion, CompanionStateItem(inputs->options, inputs->loaded.agentDir));
    b.Finish(companion);
  });

  board->WaitAll(inputs->deadline);
  CheckOutcome outcome;
  outcome.items = board->Collect();
  // What finished between the deadline and the collection counts as checked.
  outcome.timedOut = std::any_of(outcome.items.begin(), outcome.items.end(), [](const auto& item) {
    return item.status == CheckStatus::kUnknown;
  });
  return outcome;
}

}  // namespace mvx
