#include "backup/backup_engine.h"

#include <utility>

#include "common/host_info.h"

namespace mvx {
namespace {

// The event-report kind of every backup engine report.
constexpr std::string_view kReportKind = "2";

}  // namespace

BackupEngine::BackupEngine(const Settings& settings, Database& database, SqlQuery& sqlQuery,
                           ServiceTables& serviceTables, ReportSink& reports,
                           const std::string& installationId, const std::string& computerName,
                           const std::atomic<bool>& stopRequested, const Clock& clock,
                           FreeSpaceReader freeSpace)
    : settings_(settings),
      database_(database),
      sqlQuery_(sqlQuery),
      serviceTables_(serviceTables),
      reports_(reports),
      installationId_(installationId),
      computerName_(computerName),
      stopRequested_(stopRequested),
      freeSpace_(std::move(freeSpace)),
      clock_(clock) {
  if (!freeSpace_) freeSpace_ = [](std::string_view path) { return GetFreeDiskBytes(path); };
}

void BackupEngine::RecordOutcome(std::string_view database, std::string_view message,
                                 std::string_view eventCode) {
  serviceTables_.WriteServiceLog(database, message);
  SendEventReport(database, eventCode);
}

void BackupEngine::SendEventReport(std::string_view database, std::string_view eventCode) {
  reports_.SendReport(kReportKind, installationId_, database, eventCode, computerName_);
}

}  // namespace mvx
