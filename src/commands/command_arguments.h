#pragma once

#include <cstddef>
#include <iosfwd>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace mvx {

// What an operator command accepts after its switch.
struct CommandGrammar {
  std::string_view command;              // "-check", for the messages
  std::string_view usage;                // the usage line(s), ending in a line break
  std::vector<std::string_view> flags;   // options standing alone ("--json")
  std::vector<std::string_view> valued;  // options followed by a value ("--ini PATH")
  std::size_t maxNames = 0;              // words that are not options (database names)
};

// The words after a command's switch, sorted by what they are.
struct CommandArguments {
  std::vector<std::string> names;
  std::map<std::string, std::string, std::less<>> values;
  std::set<std::string, std::less<>> flags;

  bool Flag(std::string_view option) const { return flags.count(option) != 0; }
  std::optional<std::string> Value(std::string_view option) const;
};

// Reads `args` by `grammar`. Nullopt on a usage error, `reason` saying what is wrong
// ("unknown option --x"). "-silent" is taken anywhere and means nothing: commands show no
// message boxes.
std::optional<CommandArguments> ReadCommandArguments(const std::vector<std::string>& args,
                                                     const CommandGrammar& grammar,
                                                     std::string& reason);

// Reads `args` by `grammar`. Nullopt on a usage error, with one line on `err`
// ("MvxRazuRarevi -plan: unknown option --x") followed by the usage.
std::optional<CommandArguments> ReadCommandArguments(const std::vector<std::string>& args,
                                                     const CommandGrammar& grammar,
                                                     std::ostream& err);

// Says a usage error found after reading, in the same form.
void ReportUsageError(const CommandGrammar& grammar, std::string_view reason, std::ostream& err);

}  // namespace mvx
