#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "backup/restore_chain.h"
#include "config/settings.h"
#include "db/sql_connection.h"

namespace mvx {

// What -restore and -restore-test share.

// The words of an operator command: its positional words and its options.
struct CommandWords {
  std::vector<std::string> positional;
  std::optional<std::string> ini, date, as;
  bool replace = false;
  bool run = false;
};

// Splits the words; `allowed` lists the options the command takes ("--ini", "--date", "--as",
// "--replace", "--run"). False with the reason on `err` for anything else.
bool SplitCommandWords(const std::vector<std::string>& args,
                       const std::vector<std::string_view>& allowed, CommandWords& words,
                       std::ostream& err);

// The settings as the agent's start would load them, from `iniPath`, writing
// nothing. False with the reason on `err`.
bool LoadCommandSettings(const std::string& iniPath, Settings& settings, std::ostream& err);

// Opens the connection in master, with the configured server and login: the
// database to restore may be missing, or be the one the agent connects to.
bool ConnectToMaster(SqlConnection& connection, const Settings& settings, int port,
                     std::string& error);

// The chain of `database` for the day ("yyyy-mm-dd") from the backup folder,
// or nullopt with the reason.
std::optional<RestoreChain> FindRestoreChain(const Settings& settings, std::string_view database,
                                             std::string_view date, std::string& reason);

// "<full> + <differential>" (file names), or the full alone.
std::string DescribeChain(const RestoreChain& chain);

}  // namespace mvx
