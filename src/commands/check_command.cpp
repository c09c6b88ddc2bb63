#include <exception>
#include <optional>
#include <ostream>

#include "commands/check_folder_items.h"
#include "commands/check_items.h"
#include "commands/command_arguments.h"
#include "commands/command_failure.h"
#include "commands/operator_command.h"
#include "common/json_text.h"
#include "common/text_util.h"

namespace mvx {
namespace {

// Exit codes as monitoring plugins give them.
constexpr int kOk = 0;
constexpr int kWarning = 1;
constexpr int kCritical = 2;
constexpr int kUnknown = 3;
constexpr int kMaxTimeoutSeconds = 3600;
const CommandGrammar kCheckGrammar{
    "-check",
    "usage: MvxRazuRarevi -check [--json] [--timeout N] [--ini PATH]\n",
    {"--json"},
    {"--ini", "--timeout"}};

std::string_view StatusWord(CheckStatus status) {
  switch (status) {
    case CheckStatus::kOk:
      return "OK";
    case CheckStatus::kWarn:
      return "WARN";
    case CheckStatus::kFail:
      return "FAIL";
    case CheckStatus::kUnknown:
      return "UNKNOWN";
  }
  return "";
}

int ExitCode(const CheckOutcome& outcome) {
  if (outcome.timedOut) return kUnknown;
  int code = kOk;
  for (const CheckItem& item : outcome.items) {
    if (item.status == CheckStatus::kFail) code = kCritical;
    if (item.status == CheckStatus::kWarn && code == kOk) code = kWarning;
  }
  return code;
}

std::string Summary(int code, const std::vector<CheckItem>& items, std::chrono::seconds limit) {
  static const std::string_view kWords[] = {"OK", "WARNING", "CRITICAL", "UNKNOWN"};
  const CheckStatus worst = code == kUnknown    ? CheckStatus::kUnknown
                            : code == kCritical ? CheckStatus::kFail
                            : code == kWarning  ? CheckStatus::kWarn
                                                : CheckStatus::kOk;
  std::vector<std::string> names;
  for (const CheckItem& item : items) {
    if (item.status == worst) names.push_back(item.item);
  }
  const std::size_t count = names.size();
  std::string summary = "RAZURAREVI " + std::string(kWords[code]) + " - ";
  switch (code) {
    case kUnknown:
      return summary + "time limit of " + std::to_string(limit.count()) + " s reached, " +
             std::to_string(count) + " not checked: " + JoinedByCommas(names);
    case kCritical:
      return summary + std::to_string(count) + (count == 1 ? " failure: " : " failures: ") +
             JoinedByCommas(names);
    case kWarning:
      return summary + std::to_string(count) + (count == 1 ? " warning: " : " warnings: ") +
             JoinedByCommas(names);
    default:
      return summary + std::to_string(items.size()) + " checks passed";
  }
}

// 'label'=value[UOM];warn;crit for each figure a monitor may graph, then the item counts.
std::string Perfdata(const std::vector<CheckItem>& items) {
  std::vector<CheckPerf> perf;
  int counts[4] = {0, 0, 0, 0};
  for (const CheckItem& item : items) {
    ++counts[static_cast<int>(item.status)];
    perf.insert(perf.end(), item.perf.begin(), item.perf.end());
  }
  perf.push_back({"ok", std::to_string(counts[0]), "", "", ""});
  perf.push_back({"warn", std::to_string(counts[1]), "", "", ""});
  perf.push_back({"fail", std::to_string(counts[2]), "", "", ""});
  std::string text;
  for (const CheckPerf& p : perf) {
    text += (text.empty() ? "" : " ") + std::string("'") + PerfLabel(ValidUtf8(p.label)) +
            "'=" + p.value + (p.value == "U" ? "" : p.unit) + ";" + p.warn + ";" + p.crit;
  }
  return text;
}

void WriteJson(std::ostream& out, std::string_view summary, int code,
               const std::vector<CheckItem>& items, std::string_view perfdata) {
  static const std::string_view kWords[] = {"OK", "WARNING", "CRITICAL", "UNKNOWN"};
  out << "{\"status\":\"" << kWords[code] << "\",\"summary\":" << JsonQuote(summary)
      << ",\"exitCode\":" << code << ",\"perfdata\":" << JsonQuote(perfdata) << ",\"items\":[";
  for (std::size_t i = 0; i < items.size(); ++i) {
    const CheckItem& item = items[i];
    out << (i ? "," : "") << "{\"status\":\"" << StatusWord(item.status)
        << "\",\"item\":" << JsonQuote(item.item) << ",\"detail\":" << JsonQuote(item.detail)
        << ",\"figures\":{";
    for (std::size_t f = 0; f < item.figures.size(); ++f) {
      out << (f ? "," : "") << JsonQuote(item.figures[f].name) << ":" << item.figures[f].json;
    }
    out << "}}";
  }
  out << "]}\n";
}

}  // namespace

int RunCheckCommand(const std::vector<std::string>& args, const ServiceOptions& options,
                    const Clock& clock, std::ostream& out, std::ostream& err) {
  const bool json = AsksForJson(args);
  std::string reason;
  const std::optional<CommandArguments> read = ReadCommandArguments(args, kCheckGrammar, reason);
  int seconds = static_cast<int>(kDefaultCheckLimit.count());
  if (read) {
    if (const std::optional<std::string> timeout = read->Value("--timeout")) {
      if (!ParseInt(*timeout, seconds) || seconds < 1 || seconds > kMaxTimeoutSeconds) {
        reason = "--timeout takes seconds from 1 to " + std::to_string(kMaxTimeoutSeconds);
      }
    }
  }
  if (!reason.empty()) {
    ReportUsageError(kCheckGrammar, reason, err);
    WriteCommandFailure(out, json, "-check " + reason, kUnknown);
    return kUnknown;
  }
  OperatorSettings loaded;
  try {
    loaded = LoadOperatorSettings(options, read->Value("--ini"));
  } catch (const std::exception& e) {
    WriteCommandFailure(out, json, e.what(), kUnknown);
    return kUnknown;
  }
  const std::chrono::seconds limit(seconds);
  const CheckOutcome outcome = RunChecks(loaded, options, clock, limit);
  const int code = ExitCode(outcome);
  const std::string summary = Summary(code, outcome.items, limit);
  const std::string perfdata = Perfdata(outcome.items);
  if (json) {
    WriteJson(out, summary, code, outcome.items, perfdata);
    return code;
  }
  out << PluginText(summary) << " | " << perfdata << "\n";
  for (const CheckItem& item : outcome.items) {
    out << StatusWord(item.status) << (item.status == CheckStatus::kOk ? "   " : " ")
        << PluginText(item.item) << ": " << PluginText(item.detail) << "\n";
  }
  return code;
}

}  // namespace mvx
