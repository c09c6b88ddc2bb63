#include "commands/command_arguments.h"

#include <algorithm>
#include <ostream>

#include "common/text_util.h"

namespace mvx {
namespace {

bool Lists(const std::vector<std::string_view>& list, std::string_view word) {
  return std::find(list.begin(), list.end(), word) != list.end();
}

// The installer's switch, which a monitoring system may pass to every call.
bool IsSilentSwitch(std::string_view word) {
  return word.size() == 7 && (word[0] == '-' || word[0] == '/') &&
         EqualsNoCase(word.substr(1), "silent");
}

}  // namespace

std::optional<std::string> CommandArguments::Value(std::string_view option) const {
  const auto found = values.find(option);
  if (found == values.end()) return std::nullopt;
  return found->second;
}

void ReportUsageError(const CommandGrammar& grammar, std::string_view reason, std::ostream& err) {
  err << "MvxRazuRarevi " << grammar.command << ": " << reason << "\n" << grammar.usage;
}

std::optional<CommandArguments> ReadCommandArguments(const std::vector<std::string>& args,
                                                     const CommandGrammar& grammar,
                                                     std::string& reason) {
  CommandArguments read;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& word = args[i];
    if (IsSilentSwitch(word)) continue;
    if (word.rfind("--", 0) != 0) {
      if (word.empty() || read.names.size() >= grammar.maxNames) {
        reason = word.empty() ? std::string("an empty word") : "does not take " + word;
        return std::nullopt;
      }
      read.names.push_back(word);
    } else if (Lists(grammar.flags, word)) {
      read.flags.insert(word);
    } else if (Lists(grammar.valued, word)) {
      if (i + 1 >= args.size() || args[i + 1].empty()) {
        reason = word + " needs a value";
        return std::nullopt;
      }
      read.values[word] = args[++i];
    } else {
      reason = "does not know " + word;
      return std::nullopt;
    }
  }
  return read;
}

std::optional<CommandArguments> ReadCommandArguments(const std::vector<std::string>& args,
                                                     const CommandGrammar& grammar,
                                                     std::ostream& err) {
  std::string reason;
  std::optional<CommandArguments> read = ReadCommandArguments(args, grammar, reason);
  if (!read) ReportUsageError(grammar, reason, err);
  return read;
}

}  // namespace mvx
