#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "backup/backup_engine.h"
#include "common/clock.h"
#include "common/report_sink.h"
#include "common/text_log.h"
#include "config/settings.h"
#include "db/database.h"
#include "db/service_tables.h"
#include "db/sql_connection.h"
#include "support/sql/scripted_sql_server.h"
#include "support/temp_dir.h"

namespace mvx::backuptest {

namespace sql = mvx::testing;

struct Report {
  std::string kind, installationId, database, eventCode, computerName;
  friend bool operator==(const Report&, const Report&) = default;
  friend std::ostream& operator<<(std::ostream& out, const Report& r) {
    return out << "{" << r.kind << "," << r.installationId << "," << r.database << ","
               << r.eventCode << "," << r.computerName << "}";
  }
};

class RecordingReports final : public ReportSink {
 public:
  void SendReport(std::string_view kind, std::string_view installationId, std::string_view database,
                  std::string_view eventCode, std::string_view computerName) override {
    sent.push_back({std::string(kind), std::string(installationId), std::string(database),
                    std::string(eventCode), std::string(computerName)});
    // The service asks for a stop while a report is on its way.
    if (stopAfter >= 0 && sent.size() >= static_cast<std::size_t>(stopAfter)) stop = true;
  }
  std::vector<Report> sent;
  int stopAfter = -1;  // raise `stop` once this many reports went out
  std::atomic<bool> stop{false};
};

struct LoggedMessage {
  std::string database, message;
  friend bool operator==(const LoggedMessage&, const LoggedMessage&) = default;
  friend std::ostream& operator<<(std::ostream& out, const LoggedMessage& m) {
    return out << "{" << m.database << "," << m.message << "}";
  }
};

// The engine wired as the service module wires it, against a scripted server
// and a temporary backup folder.
class BackupTest : public ::testing::Test {
 protected:
  BackupTest() {
    settings.serverName = "(Local)";
    settings.login = "quendr";
    settings.password = "secret";
    settings.connectionDatabase = "TremoLandix";
    settings.databases = {"TremoLandix", "", "", "", "", ""};
    settings.bkPath = BackupFolder();
    settings.dbPath = "D";
    settings.save = "4";
    database.SetPortOverride(server.port());
    serviceTables.SetEcho([this](std::string_view db, std::string_view message, bool) {
      logged.push_back({std::string(db), std::string(message)});
    });
  }

  // The backup folder as BKPath holds it (no trailing separator).
  std::string BackupFolder() const {
    std::string dir = backups.dir();
    dir.pop_back();
    return dir;
  }
  // A backup file the way the folder would hold it.
  void PutFile(const std::string& name) const { backups.write(name, "backup"); }

  // Batches other than the activity-log rows.
  std::vector<std::string> Statements() const {
    std::vector<std::string> out;
    for (const std::string& text : server.batchTexts()) {
      if (text.rfind("insert into", 0) != 0) out.push_back(text);
    }
    return out;
  }

  static sql::SqlReply LogFileName(std::string name) {
    sql::SqlReply reply;
    reply.results.push_back({{{"name", sql::SqlColumn::Type::Text}}, {{std::move(name)}}});
    return reply;
  }
  static sql::SqlMessage Progress(int percent) {
    return {3211, std::to_string(percent) + " percent processed.", 0};
  }

  Report Sent(std::string database, std::string code) const {
    return {"2", installationId, std::move(database), std::move(code), computerName};
  }

  sql::ScriptedSqlServer server;
  sql::TempDir logs;
  sql::TempDir backups;
  ManualClock clock{LocalDateTime::Make(2024, 3, 15, 17, 0, 0)};
  TextLog textLog{logs.dir(), clock};
  Settings settings;
  SqlConnection connection;
  Database database{connection, settings, textLog};
  ServiceTables serviceTables{database};
  SqlQuery sqlQuery{connection};
  RecordingReports reports;
  std::string installationId = "TL-00042";
  std::string computerName = "DBHOST";
  std::vector<LoggedMessage> logged;

  // Plenty of space unless a test says otherwise; every reading is recorded.
  std::uint64_t freeBytes = std::uint64_t{1} << 40;
  std::vector<std::string> measuredPaths;
  BackupEngine engine{settings,
                      database,
                      sqlQuery,
                      serviceTables,
                      reports,
                      installationId,
                      computerName,
                      reports.stop,
                      clock,
                      [this](std::string_view path) {
                        measuredPaths.emplace_back(path);
                        return freeBytes;
                      }};
};

}  // namespace mvx::backuptest
