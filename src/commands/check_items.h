#pragma once

#include <string>
#include <utility>
#include <vector>

#include "commands/operator_settings.h"
#include "common/clock.h"
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

inline CheckItem MakeCheckItem(CheckStatus status, std::string item, std::string detail,
                               std::vector<CheckFigure> figures = {}) {
  return CheckItem{status, std::move(item), std::move(detail), std::move(figures)};
}

// Tries every dependency of a backup, in the order an operator reads them: settings, SQL
// Server, each slot, the backup folder, the support link, the companion, the key-part status.
// Only reads: queries that change nothing, pings, connects that send nothing.
std::vector<CheckItem> RunChecks(const OperatorSettings& loaded, const ServiceOptions& options,
                                 const Clock& clock);

}  // namespace mvx
