#include <exception>
#include <optional>
#include <ostream>
#include <sstream>

#include "backup/backup_engine.h"
#include "commands/command_arguments.h"
#include "commands/operator_command.h"
#include "commands/plan_day.h"
#include "commands/plan_log_backups.h"
#include "common/date_text.h"
#include "common/json_text.h"
#include "common/text_util.h"

namespace mvx {
namespace {

constexpr int kMaxDays = 31;
const CommandGrammar kPlanGrammar{
    "-plan",
    "usage: MvxRazuRarevi -plan [--date YYYY-MM-DD] [--days N] [--json] [--ini PATH]\n",
    {"--json"},
    {"--date", "--days", "--ini"}};

struct PlanArgs {
  std::optional<LocalDateTime> date;
  int days = 1;
  bool json = false;
  std::optional<std::string> ini;
};

// The words after -plan; nullopt with a message on a usage error.
std::optional<PlanArgs> ParsePlanArgs(const std::vector<std::string>& args, std::ostream& err) {
  const std::optional<CommandArguments> read = ReadCommandArguments(args, kPlanGrammar, err);
  if (!read) return std::nullopt;
  PlanArgs parsed;
  parsed.json = read->Flag("--json");
  parsed.ini = read->Value("--ini");
  if (const std::optional<std::string> date = read->Value("--date")) {
    parsed.date = ParseDateText(*date);
    if (!parsed.date) {
      ReportUsageError(kPlanGrammar, "--date takes a date as YYYY-MM-DD, not " + *date, err);
      return std::nullopt;
    }
  }
  if (const std::optional<std::string> days = read->Value("--days")) {
    if (!ParseInt(*days, parsed.days) || parsed.days < 1 || parsed.days > kMaxDays) {
      ReportUsageError(kPlanGrammar, "--days takes a number from 1 to " + std::to_string(kMaxDays),
                       err);
      return std::nullopt;
    }
  }
  return parsed;
}

std::string FromText(const std::optional<std::string>& from) {
  return from->empty() ? "00:00" : *from;
}

// "due from 17:00", "not due", or why a set time never comes.
std::string DueText(const std::optional<std::string>& from) {
  if (!from) return "not due";
  if (!ReachedToday(from)) return "never due: the time " + *from + " is never reached";
  return "due from " + FromText(from);
}

void WritePassText(std::ostream& out, std::string_view what, const std::optional<std::string>& due,
                   const std::vector<SlotBackupPlan>& slots) {
  out << "  " << what << ": " << DueText(due) << "\n";
  for (const SlotBackupPlan& slot : slots) {
    out << "    " << slot.database << ": "
        << (slot.done ? "done (" + slot.fileName + " exists)"
                      : "would be backed up to " + slot.fileName)
        << "\n";
  }
}

void WriteText(std::ostream& out, const OperatorSettings& loaded,
               const std::vector<DayPlan>& plans) {
  const Settings& s = loaded.settings;
  out << "Plan from " << plans.front().date << ", " << plans.size()
      << (plans.size() == 1 ? " day" : " days") << ", settings "
      << (loaded.fileExists ? loaded.path : "built-in defaults") << "\n";
  const std::optional<int> kept = RetentionDays(s.save);
  out << "Backup folder " << (s.bkPath.empty() ? "(none)" : s.bkPath) << ", "
      << (kept ? std::to_string(*kept) + " days kept" : std::string("no cleanup")) << "\n";
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
    WritePassText(out, "full backup", day.due.fullFrom, day.full);
    WritePassText(out, "differential backup", day.due.differentialFrom, day.differential);
    if (const std::string logs = LogBackupPlanText(s); !logs.empty()) {
      out << "  log backups: " << logs << "\n";
    }
    out << "  weekly key-part run: ";
    if (!ReachedToday(day.due.keyPartFrom)) {
      out << "not due (" << s.keyWeek << " from " << s.keyTime << ")\n";
    } else if (day.keyPartDatabases.empty()) {
      out << "due from " << FromText(day.due.keyPartFrom) << ", but no slot is eligible\n";
    } else {
      out << "due from " << FromText(day.due.keyPartFrom) << " for "
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
      out << "    " << (goes ? "delete " : "keep   ") << entry.file.name << " ("
          << CleanupVerdictText(entry.file.verdict) << ")\n";
    }
  }
}

std::string JsonPass(const std::optional<std::string>& due,
                     const std::vector<SlotBackupPlan>& slots) {
  std::ostringstream json;
  json << "{\"due\":" << (ReachedToday(due) ? "true" : "false");
  if (due) json << ",\"from\":" << JsonQuote(*due);
  json << ",\"slots\":[";
  for (std::size_t i = 0; i < slots.size(); ++i) {
    json << (i ? "," : "") << "{\"database\":" << JsonQuote(slots[i].database)
         << ",\"file\":" << JsonQuote(slots[i].fileName) << ",\"state\":\""
         << (slots[i].done ? "done" : "backup") << "\"}";
  }
  json << "]}";
  return json.str();
}

void WriteJson(std::ostream& out, const OperatorSettings& loaded,
               const std::vector<DayPlan>& plans) {
  out << "{\"settings\":" << (loaded.fileExists ? JsonQuote(loaded.path) : "null")
      << ",\"backupFolder\":" << JsonQuote(loaded.settings.bkPath) << ",\"days\":[";
  for (std::size_t d = 0; d < plans.size(); ++d) {
    const DayPlan& day = plans[d];
    out << (d ? "," : "") << "{\"date\":" << JsonQuote(day.date)
        << ",\"weekday\":" << JsonQuote(day.weekday)
        << ",\"ticksWork\":" << (day.ticksWork ? "true" : "false")
        << ",\"scheduleWorks\":" << (day.scheduleWorks ? "true" : "false")
        << ",\"full\":" << JsonPass(day.due.fullFrom, day.full)
        << ",\"differential\":" << JsonPass(day.due.differentialFrom, day.differential);
    if (const std::string logs = LogBackupPlanJson(loaded.settings); !logs.empty()) {
      out << ",\"logBackups\":" << logs;
    }
    out << ",\"keyPart\":{\"due\":" << (day.keyPartDatabases.empty() ? "false" : "true");
    if (day.due.keyPartFrom) out << ",\"from\":" << JsonQuote(*day.due.keyPartFrom);
    out << ",\"databases\":[";
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
          << "\",\"reason\":" << JsonQuote(CleanupVerdictText(entry.file.verdict)) << "}";
    }
    out << "]}";
  }
  out << "]}\n";
}

}  // namespace

int RunPlanCommand(const std::vector<std::string>& args, const ServiceOptions& options,
                   const Clock& clock, std::ostream& out, std::ostream& err) {
  const std::optional<PlanArgs> parsed = ParsePlanArgs(args, err);
  if (!parsed) return 2;
  OperatorSettings loaded;
  try {
    loaded = LoadOperatorSettings(options, parsed->ini);
  } catch (const std::exception& e) {
    err << "MvxRazuRarevi: " << e.what() << "\n";
    return 1;
  }
  const LocalDateTime now = clock.Now();
  const LocalDateTime first =
      parsed->date ? *parsed->date : LocalDateTime::Make(now.year, now.month, now.day);
  const std::vector<DayPlan> plans = PlanDays(loaded, first, parsed->days);
  if (parsed->json) {
    WriteJson(out, loaded, plans);
  } else {
    WriteText(out, loaded, plans);
  }
  return 0;
}

}  // namespace mvx
