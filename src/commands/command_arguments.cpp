#include "commands/command_arguments.h"

#include <algorithm>
#include <ostream>

namespace mvx {
namespace {

bool Lists(const std::vector<std::string_view>& list, std::string_view word) {
  return std::find(list.begin(), list.end(), word) != list.end();
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
                                                     std::ostream& err) {
  CommandArguments read;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& word = args[i];
    if (word.rfind("--", 0) != 0) {
      if (word.empty() || read.names.size() >= grammar.maxNames) {
        ReportUsageError(
            grammar, word.empty() ? std::string("an empty word") : "does not take " + word, err);
        return std::nullopt;
      }
      read.names.push_back(word);
    } else if (Lists(grammar.flags, word)) {
      read.flags.insert(word);
    } else if (Lists(grammar.valued, word)) {
      if (i + 1 >= args.size() || args[i + 1].empty()) {
        ReportUsageError(grammar, word + " needs a value", err);
        return std::nullopt;
      }
      read.values[word] = args[++i];
    } else {
      ReportUsageError(grammar, "does not know " + word, err);
      return std::nullopt;
    }
  }
  return read;
}

}  // namespace mvx
