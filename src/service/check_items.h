#pragma once

#include <string>
#include <vector>

#include "common/clock.h"
#include "service/operator_settings.h"
#include "service/tf_mvx_backup_main.h"

namespace mvx {

enum class CheckStatus { kOk, kWarn, kFail };

// A figure of a line item for scripts: its name and its value as JSON text.
struct CheckFigure {
  std::string name;
  std::string json;
};

struct CheckItem {
  CheckStatus status = CheckStatus::kOk;
  std::string item;
  std::string detail;
  std::vector<CheckFigure> figures;
};

// Tries every dependency of a backup, in the order an operator reads them: settings, SQL
// Server, each slot, the backup folder, the support link, the companion, the key-part status.
// Only reads: queries that change nothing, pings, connects that send nothing.
std::vector<CheckItem> RunChecks(const OperatorSettings& loaded, const ServiceOptions& options,
                                 const Clock& clock);

// The schedule in words: "full on Fridays from 17:00, differential on the other days from
// 17:00, every 1800 s, 30 days kept".
std::string ScheduleInWords(const Settings& settings);

// Days the newest full backup may be old: the longest gap between two due full-backup days
// plus one (8 for a weekly full); 0 when no full backup is ever due.
int AllowedFullBackupAge(const Settings& settings, const LocalDateTime& today);

}  // namespace mvx
