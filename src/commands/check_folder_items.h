#pragma once

#include "commands/check_board.h"
#include "common/clock.h"
#include "config/settings.h"
#include "service/tf_mvx_backup_main.h"

namespace mvx {

// What the backup folder says, read here and not by the server: for each slot the newest
// files and whether the due backups were written, for the folder the files failed
// verifications left and the free space beside the databases. Posted as side facts.
void PostFolderFacts(const Settings& settings, const ServiceOptions& options,
                     const LocalDateTime& now, CheckBoard& board);

// A perfdata label as the monitoring-plugin format takes it: without ' and |.
std::string PerfLabel(std::string_view text);

}  // namespace mvx
