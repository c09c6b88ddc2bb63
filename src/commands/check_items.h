#pragma once

#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "commands/operator_settings.h"
#include "common/clock.h"
#include "service/tf_mvx_backup_main.h"

namespace mvx {

// In the order of severity; kUnknown: not checked within the time limit.
enum class CheckStatus { kOk, kWarn, kFail, kUnknown };

// A figure of a line item for scripts: its name and its value as JSON text.
struct CheckFigure {
  std::string name;
  std::string json;
};

// A value for monitoring graphs: 'label'=value[unit];warn;crit ("U": not known).
struct CheckPerf {
  std::string label;
  std::string value;
  std::string unit;
  std::string warn, crit;
};

struct CheckItem {
  CheckStatus status = CheckStatus::kOk;
  std::string item;
  std::string detail;
  std::vector<CheckFigure> figures;
  std::vector<CheckPerf> perf;
  // Items read in two parts (the server's view and the folder's) share a key.
  std::string mergeKey;
};

inline CheckItem MakeCheckItem(CheckStatus status, std::string item, std::string detail,
                               std::vector<CheckFigure> figures = {}) {
  return CheckItem{status, std::move(item), std::move(detail), std::move(figures), {}, {}};
}

// The worse of two statuses.
inline CheckStatus Worse(CheckStatus a, CheckStatus b) { return a < b ? b : a; }

// The merge keys of a slot's items and of the backup folder's.
std::string SlotKey(const std::string& database);
inline constexpr std::string_view kFolderKey = "folder";

inline constexpr std::chrono::seconds kDefaultCheckLimit{50};

struct CheckOutcome {
  std::vector<CheckItem> items;
  bool timedOut = false;  // some items were not checked within the limit
};

// Tries every dependency of a backup, in the order an operator reads them: settings, the
// agent, SQL Server, each slot, the backup folder, the support link, the companion, the
// key-part status. Independent parts run side by side; the run ends after `limit` whatever
// they do. Only reads: queries that change nothing, pings, connects that send nothing.
CheckOutcome RunChecks(const OperatorSettings& loaded, const ServiceOptions& options,
                       const Clock& clock, std::chrono::seconds limit = kDefaultCheckLimit);

}  // namespace mvx
