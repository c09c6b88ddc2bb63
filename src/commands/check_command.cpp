#include <exception>
#include <optional>
#include <ostream>

#include "commands/check_items.h"
#include "commands/command_arguments.h"
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
const CommandGrammar kCheckGrammar{
    "-check", "usage: MvxRazuRarevi -check [--json] [--ini PATH]\n", {"--json"}, {"--ini"}};

std::string_view StatusWord(CheckStatus status) {
  switch (status) {
    case CheckStatus::kOk:
      return "OK";
    case CheckStatus::kWarn:
      return "WARN";
    case CheckStatus::kFail:
      return "FAIL";
  }
  return "";
}

std::string Summary(int code, const std::vector<CheckItem>& items) {
  std::vector<std::string> names;
  const CheckStatus worst = code == kCritical  ? CheckStatus::kFail
                            : code == kWarning ? CheckStatus::kWarn
                                               : CheckStatus::kOk;
  for (const CheckItem& item : items) {
    if (item.status == worst) names.push_back(item.item);
  }
  const std::size_t count = names.size();
  if (code == kCritical) {
    return "RAZURAREVI CRITICAL - " + std::to_string(count) +
           (count == 1 ? " failure: " : " failures: ") + JoinedByCommas(names);
  }
  if (code == kWarning) {
    return "RAZURAREVI WARNING - " + std::to_string(count) +
           (count == 1 ? " warning: " : " warnings: ") + JoinedByCommas(names);
  }
  return "RAZURAREVI OK - " + std::to_string(items.size()) + " checks passed";
}

void WriteJson(std::ostream& out, std::string_view summary, int code,
               const std::vector<CheckItem>& items) {
  out << "{\"summary\":" << JsonQuote(summary) << ",\"exitCode\":" << code << ",\"items\":[";
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
  const std::optional<CommandArguments> read = ReadCommandArguments(args, kCheckGrammar, err);
  if (!read) return kUnknown;
  const bool json = read->Flag("--json");
  const std::optional<std::string> ini = read->Value("--ini");
  OperatorSettings loaded;
  try {
    loaded = LoadOperatorSettings(options, ini);
  } catch (const std::exception& e) {
    const std::string summary = std::string("RAZURAREVI UNKNOWN - ") + e.what();
    if (json) {
      WriteJson(out, summary, kUnknown, {});
    } else {
      out << summary << "\n";
    }
    return kUnknown;
  }
  const std::vector<CheckItem> items = RunChecks(loaded, options, clock);
  int code = kOk;
  for (const CheckItem& item : items) {
    if (item.status == CheckStatus::kFail) code = kCritical;
    if (item.status == CheckStatus::kWarn && code == kOk) code = kWarning;
  }
  const std::string summary = Summary(code, items);
  if (json) {
    WriteJson(out, summary, code, items);
    return code;
  }
  out << summary << "\n";
  for (const CheckItem& item : items) {
    out << StatusWord(item.status) << (item.status == CheckStatus::kOk ? "   " : " ") << item.item
        << ": " << item.detail << "\n";
  }
  return code;
}

}  // namespace mvx
