#include "db/database.h"

#include <exception>

#include "common/text_log.h"

namespace mvx {
namespace {

constexpr std::string_view kConnectFailed = "Database 접속실패!!!";

}  // namespace

ConnectionParams ConfiguredConnectionParams(const Settings& settings) {
  ConnectionParams params;
  params.hostName = settings.serverName.empty() ? "(Local)" : settings.serverName;
  params.database = settings.connectionDatabase;
  params.userName = settings.login;
  params.password = settings.password;
  return params;
}

Database::Database(SqlConnection& connection, const Settings& settings, TextLog& textLog)
    : connection_(connection), settings_(settings), textLog_(textLog) {}

bool Database::ConnectDatabase() {
  if (connection_.IsOpen()) return true;
  bool cut = false;
  if (giveUpAfterTimeout_ && connection_.LastOpenTimedOut()) {
    // Reported below as that open was, without another attempt.
  } else {
    try {
      ConnectionParams params = ConfiguredConnectionParams(settings_);
      params.portOverride = portOverride_;
      params.loginTimeout = loginTimeout_;
      connection_.SetParams(std::move(params));
      connection_.Open();
      return true;
    } catch (...) {
      cut = connection_.LastOpenCut();
    }
  }
  if (cut) return false;
  try {
    textLog_.WriteFileLog(kConnectFailed);
  } catch (...) {
    // A log that cannot be written must not turn a failed connection into a crash.
  }
  return false;
}

void Database::DisconnectDatabase() noexcept { connection_.Close(); }

}  // namespace mvx
