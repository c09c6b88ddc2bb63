#include <exception>
#include <optional>
#include <ostream>
#include <sstream>

#include "backup/backup_engine.h"
#include "commands/agent_start.h"
#include "commands/command_arguments.h"
#include "commands/command_failure.h"
#include "commands/operator_command.h"
#include "commands/plan_day.h"
#include "commands/plan_log_backups.h"
#include "common/date_text.h"
#include "common/json_text.h"
#include "common/text_util.h"
#include "service/schedule.h"

namespace mvx {
namespace {

constexpr int kMaxDays = 31;
const CommandGrammar kPlanGrammar{
    "-plan",
    "usage: MvxRazuRarevi -plan [--date YYYY-MM-DD] [--days N] [--json] [--ini PATH]\n",
    {"--json"},
    {"--date", "--days", "--ini"}};

constexpr long long kDayMs = 86400000LL;
constexpr int kLastYear = 9999;

struct PlanArgs {
  std::optional<LocalDateTime> date;
  int days = 1;
  bool json = false;
  std::optional<std::string> ini;
};

// What the text and the JSON are both rendered from.
struct PlanModel {
  OperatorSettings loaded;
  int timerInt = 0;                 // as the agent uses it
  std::optional<std::string> note;  // settings the running agent has not loaded
  std::vector<DayPlan> days;
};

// The words after -plan; nullopt with `reason` on a usage error.
std::optional<PlanArgs> ParsePlanArgs(const std::vector<std::string>& args, std::string& reason) {
  const std::optional<CommandArguments> read = ReadCommandArguments(args, kPlanGrammar, reason);
  if (!read) return std::nullopt;
  PlanArgs parsed;
  parsed.json = read->Flag("--json");
  parsed.ini = read->Value("--ini");
  if (const std::optional<std::string> date = read->Value("--date")) {
    parsed.date = ParseDateText(*date);
    if (!parsed.date) {
      reason = "--date takes a date as YYYY-MM-DD, not " + *date;
      return std::nullopt;
    }
  }
  if (const std::optional<std::string> days = read->Value("--days")) {
    if (!ParseInt(*days, parsed.days) || parsed.days < 1 || parsed.days > kMaxDays) {
      reason = "--days takes a number from 1 to " + std::to_string(kMaxDays);
      return std::nullopt;
    }
  }
  return parsed;
}

// The last planned day must be a date the plan can name.
bool LastDayValid(const LocalDateTime& first, int days) {
  const LocalDateTime last = AddMilliseconds(first, (days - 1) * kDayMs);
  return last.year <= kLastYear && ParseDateText(FormatDate(last)).has_value();
}

// "due from 17:00", "not due", or why a set time never comes.
std::string DueText(const PassDue& due, int timerInt) {
  switch (due.kind) {
    case DueKind::kNotDue:
      return "not due";
    case DueKind::kNeverReached:
      return "never due: the time " + due.from + " is never reached";
    case DueKind::kMayBeMissed:
      return "due from " + due.from + " — may be missed (ticks are " + std::to_string(timerInt) +
             " s apart)";
    case DueKind::kDue:
      break;
  }
  return "due from " + due.from;
}

void WritePassText(std::ostream& out, std::string_view what, const PassDue& due, int timerInt,
                   const std::vector<SlotBackupPlan>& slots) {
  out << "  " << what << ": " << DueText(due, timerInt) << "\n";
  for (const SlotBackupPlan& slot : slots) {
    out << "    " << slot.database << ": "
        << (slot.done ? "done (" + slot.fileName + " exists)"
                      : "would be backed up to " + slot.fileName)
        << "\n";
  }
}

void WriteText(std::ostream& out, const PlanModel& model) {
  const OperatorSettings& loaded = model.loaded;
  const std::vector<DayPlan>& plans = model.days;
  const Settings& s = loaded.settings;
  if (model.note) out << "Note: " << *model.note << "\n";
  out << "Plan from " << plans.front().date << ", " << plans.size()
      << (plans.size() == 1 ? " day" : " days") << ", settings "
      << (loaded.fileExists ? loaded.path : "built-in defaults") << "\n";
  const std::optional<int> kept = RetentionDays(s.save);
  out << "Backup folder " << (s.bkPath.empty() ? "(none)" : s.bkPath) << ", "
      << (kept ? std::to_string(*kept) + " days kept" : std::string("no cleanup"))
      << ", ticks every " << model.timerInt << " s\n";
  if (s.dbPath.empty() && plans.front().ticksWork) {
    out << "DBPath is empty: every tick logs \"DB Path 지정안되어 있슴\" and reports 008\n";
  }
  for (const DayPlan& day : plans) {
    out << "\n" << day.date << " " << day.weekday << "\n";
    if (!day.ticksWork) {
      out << "  nothing: server name, login or password is empty, so ticks only refresh the "
             "link\n";
      continue;
    }
    if (day.logDeleted) out << "  text log: deleted (its last deletion is over 30 days back)\n";
    if (!day.scheduleWorks) {
      out << "  nothing more: no backup folder or no database slot\n";
      continue;
    }
    WritePassText(out, "full backup", day.fullDue, model.timerInt, day.full);
    WritePassText(out, "differential backup", day.differentialDue, model.timerInt,
                  day.differential);
    if (const std::string logs = LogBackupPlanText(s); !logs.empty()) {
      out << "  log backups: " << logs << "\n";
    }
    out << "  weekly key-part run: ";
    if (day.keyPartDue.kind == DueKind::kNotDue) {
      out << "not due (" << s.keyWeek << " from " << s.keyTime << ")\n";
    } else if (!day.keyPartDue.Due()) {
      out << DueText(day.keyPartDue, model.timerInt) << "\n";
    } else if (day.keyPartDatabases.empty()) {
      out << DueText(day.keyPartDue, model.timerInt) << ", but no slot is eligible\n";
    } else {
      out << DueText(day.keyPartDue, model.timerInt) << " for "
          << JoinedByCommas(day.keyPartDatabases) << "\n";
    }
    out << "  text log: "
        << (day.logTrimmed ? "entries older than 14 days trimmed at the first tick"
                           : "no trim (done today already)")
        << "\n";
    if (!day.cleanupError.empty()) {
      out << "  cleanup: fails, " << day.cleanupError << "\n";
      continue;
    }
    out << "  cleanup:" << (day.cleanup.empty() ? " no files of the slots' databases" : "") << "\n";
    for (const CleanupPlanEntry& entry : day.cleanup) {
      const bool goes = entry.file.verdict == CleanupVerdict::kDelete;
      out << "    " << (goes ? "delete " : "keep   ") << entry.file.name << " (" << entry.reason
          << ")\n";
    }
  }
}

std::string JsonPass(const PassDue& due, const std::vector<SlotBackupPlan>& slots,
                     bool anyone = true) {
  std::ostringstream json;
  json << "{\"due\":" << (due.Due() && anyone ? "true" : "false");
  if (due.kind != DueKind::kNotDue) json << ",\"from\":" << JsonQuote(due.from);
  json << ",\"mayBeMissed\":" << (due.kind == DueKind::kMayBeMissed ? "true" : "false")
       << ",\"neverReached\":" << (due.kind == DueKind::kNeverReached ? "true" : "false");
  json << ",\"slots\":[";
  for (std::size_t i = 0; i < slots.size(); ++i) {
    json << (i ? "," : "") << "{\"database\":" << JsonQuote(slots[i].database)
         << ",\"file\":" << JsonQuote(slots[i].fileName) << ",\"state\":\""
         << (slots[i].done ? "done" : "backup") << "\"}";
  }
  json << "]}";
  return json.str();
}

void WriteJson(std::ostream& out, const PlanModel& model) {
  const OperatorSettings& loaded = model.loaded;
  out << "{\"settings\":" << (loaded.fileExists ? JsonQuote(loaded.path) : "null")
      << ",\"backupFolder\":" << JsonQuote(loaded.settings.bkPath)
      << ",\"timerInt\":" << model.timerInt;
  if (model.note) out << ",\"note\":" << JsonQuote(*model.note);
  out << ",\"days\":[";
  for (std::size_t d = 0; d < model.days.size(); ++d) {
    const DayPlan& day = model.days[d];
    out << (d ? "," : "") << "{\"date\":" << JsonQuote(day.date)
        << ",\"weekday\":" << JsonQuote(day.weekday)
        << ",\"ticksWork\":" << (day.ticksWork ? "true" : "false")
        << ",\"scheduleWorks\":" << (day.scheduleWorks ? "true" : "false")
        << ",\"full\":" << JsonPass(day.fullDue, day.full)
        << ",\"differential\":" << JsonPass(day.differentialDue, day.differential);
    if (const std::string logs = LogBackupPlanJson(loaded.settings); !logs.empty()) {
      out << ",\"logBackups\":" << logs;
    }
    out << ",\"keyPart\":";
    std::string keyPart = JsonPass(day.keyPartDue, {}, !day.keyPartDatabases.empty());
    keyPart.pop_back();  // the object goes on with the databases
    out << keyPart << ",\"databases\":[";
    for (std::size_t i = 0; i < day.keyPartDatabases.size(); ++i) {
      out << (i ? "," : "") << JsonQuote(day.keyPartDatabases[i]);
    }
    out << "]},\"logTrimmed\":" << (day.logTrimmed ? "true" : "false")
        << ",\"logDeleted\":" << (day.logDeleted ? "true" : "false");
    if (!day.cleanupError.empty()) out << ",\"cleanupError\":" << JsonQuote(day.cleanupError);
    out << ",\"cleanup\":[";
    for (std::size_t i = 0; i < day.cleanup.size(); ++i) {
      const CleanupPlanEntry& entry = day.cleanup[i];
      out << (i ? "," : "") << "{\"database\":" << JsonQuote(entry.database)
          << ",\"file\":" << JsonQuote(entry.file.name) << ",\"action\":\""
          << (entry.file.verdict == CleanupVerdict::kDelete ? "delete" : "keep")
          << "\",\"reason\":" << JsonQuote(entry.reason) << "}";
    }
    out << "]}";
  }
  out << "]}\n";
}

}  // namespace

int RunPlanCommand(const std::vector<std::string>& args, const ServiceOptions& options,
                   const Clock& clock, std::ostream& out, std::ostream& err) {
  const bool json = AsksForJson(args);
  std::string reason;
  const std::optional<PlanArgs> parsed = ParsePlanArgs(args, reason);
  const LocalDateTime now = clock.Now();
  const LocalDateTime first =
      parsed && parsed->date ? *parsed->date : LocalDateTime::Make(now.year, now.month, now.day);
  if (parsed && !LastDayValid(first, parsed->days)) {
    reason = "the last planned day lies after " + std::to_string(kLastYear) + "-12-31";
  }
  if (!reason.empty()) {
    ReportUsageError(kPlanGrammar, reason, err);
    WriteCommandFailure(out, json, "-plan " + reason, 2);
    return 2;
  }
  PlanModel model;
  try {
    model.loaded = LoadOperatorSettings(options, parsed->ini);
  } catch (const std::exception& e) {
    WriteCommandFailure(out, json, e.what(), 1);
    return 1;
  }
  model.timerInt = CorrectedTimerInt(model.loaded.settings.timerInt);
  model.note = UnappliedSettingsNote(model.loaded, QueryAgent(options, model.loaded.agentDir));
  model.days = PlanDays(model.loaded, first, parsed->days);
  std::ostringstream text;
  if (parsed->json) {
    WriteJson(text, model);
  } else {
    WriteText(text, model);
  }
  out << ValidUtf8(text.str());
  return 0;
}

}  // namespace mvx
