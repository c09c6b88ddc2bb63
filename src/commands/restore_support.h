#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "backup/restore_chain.h"
#include "backup/restore_run.h"
#include "commands/operator_settings.h"
#include "config/settings.h"
#include "db/sql_connection.h"

namespace mvx {

// What -restore and -restore-test share.

// The settings as the agent's start would load them, from --ini or the file
// beside the executable, writing nothing. A missing file beside the executable
// is said on `err` (the built-in defaults apply); a named one that cannot be
// read ends the command. Nullopt with the reason on `err`.
std::optional<OperatorSettings> LoadRestoreSettings(const ServiceOptions& options,
                                                    const std::optional<std::string>& iniPath,
                                                    std::ostream& err);

// Opens the connection in master, with the configured server and login: the
// database to restore may be missing, or be the one the agent connects to.
bool ConnectToMaster(SqlConnection& connection, const Settings& settings, int port,
                     std::string& error);

// The chain of `database` for the day ("yyyy-mm-dd") from the backup folder,
// or nullopt with the reason.
std::optional<RestoreChain> FindRestoreChain(const Settings& settings, std::string_view database,
                                             std::string_view date, std::string& reason);

// The disk of a folder as this machine sees it; nullopt when it is no folder here (the
// server's folders may be on another machine).
std::optional<VisibleDisk> VisibleDiskOf(std::string_view folder);

// "<full> + <differential> + <n> log backup(s)" (file names), or the full alone.
std::string DescribeChain(const RestoreChain& chain);

}  // namespace mvx
