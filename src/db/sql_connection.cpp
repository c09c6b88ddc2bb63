#include "db/sql_connection.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

#include "common/text_util.h"
#include "db/connect_attempt.h"
#include "db/connection_string.h"
#include "db/driver_choice.h"
#include "db/odbc_handle.h"
#include "db/odbc_platform.h"
#include "db/odbc_statement.h"

namespace mvx {
namespace {

constexpr const char* kDriverVariable = "MVX_ODBC_DRIVER";
// Past the driver's own login timeout, how long the open still waits for it
// before walking away: the bound holds even for a driver that ignores it.
constexpr std::chrono::milliseconds kLoginTimeoutMargin{500};

[[noreturn]] void ThrowRecords(const std::vector<DiagRecord>& records, const char* fallback) {
  for (const DiagRecord& record : records) {
    if (IsErrorRecord(record) && !record.message.empty()) {
      throw SqlError(record.message, static_cast<int>(record.nativeError));
    }
  }
  for (const DiagRecord& record : records) {
    if (!record.message.empty())
      throw SqlError(record.message, static_cast<int>(record.nativeError));
  }
  throw SqlError(fallback);
}

[[noreturn]] void ThrowDiagnostics(SQLSMALLINT type, SQLHANDLE handle, const char* fallback) {
  ThrowRecords(ReadDiagnostics(type, handle), fallback);
}

// The driver follows the server's database changes (also those made by a
// "use" inside a longer batch); nullopt when it cannot say.
std::optional<std::string> ReadCurrentCatalog(SQLHDBC connection) {
  std::vector<SQLWCHAR> buffer(260);
  SQLINTEGER length = 0;
  auto bytes = [&] { return static_cast<SQLINTEGER>(buffer.size() * sizeof(SQLWCHAR)); };
  SQLRETURN rc =
      SQLGetConnectAttrW(connection, SQL_ATTR_CURRENT_CATALOG, buffer.data(), bytes(), &length);
  if (rc == SQL_SUCCESS_WITH_INFO && length >= bytes() - 1 && length < 65536) {
    buffer.assign(static_cast<std::size_t>(length) / sizeof(SQLWCHAR) + 1, 0);
    rc = SQLGetConnectAttrW(connection, SQL_ATTR_CURRENT_CATALOG, buffer.data(), bytes(), &length);
  }
  if (!SQL_SUCCEEDED(rc) || length < 0) return std::nullopt;
  const std::size_t units =
      std::min<std::size_t>(static_cast<std::size_t>(length) / sizeof(SQLWCHAR), buffer.size() - 1);
  return FromSqlWide(buffer.data(), units);
}

bool ConnectionDead(SQLHDBC connection) {
  SQLUINTEGER dead = SQL_CD_FALSE;
  const SQLRETURN rc =
      SQLGetConnectAttrW(connection, SQL_ATTR_CONNECTION_DEAD, &dead, SQL_IS_UINTEGER, nullptr);
  return SQL_SUCCEEDED(rc) && dead == SQL_CD_TRUE;
}

bool IsSqlSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The database a plain "use <name>" batch switches to; nullopt for anything else.
std::optional<std::string> UseTarget(std::string_view sql) {
  std::size_t begin = 0;
  std::size_t end = sql.size();
  while (begin < end && IsSqlSpace(sql[begin])) ++begin;
  while (end > begin && (IsSqlSpace(sql[end - 1]) || sql[end - 1] == ';')) --end;
  const std::string_view text = sql.substr(begin, end - begin);
  if (text.size() < 5 || !EqualsNoCase(text.substr(0, 3), "use") || !IsSqlSpace(text[3])) {
    return std::nullopt;
  }
  std::string_view name = text.substr(4);
  while (!name.empty() && IsSqlSpace(name.front())) name.remove_prefix(1);
  if (name.size() >= 2 && name.front() == '[' && name.back() == ']') {
    std::string out;
    const std::string_view inner = name.substr(1, name.size() - 2);
    for (std::size_t i = 0; i < inner.size(); ++i) {
      out.push_back(inner[i]);
      if (inner[i] == ']' && i + 1 < inner.size() && inner[i + 1] == ']') ++i;
    }
    return out;
  }
  for (char c : name) {
    if (IsSqlSpace(c) || c == ';') return std::nullopt;
  }
  if (name.empty()) return std::nullopt;
  return std::string(name);
}

}  // namespace

struct SqlConnection::Impl {
  // Shared with connects that were walked away from, which may still use it.
  std::shared_ptr<OdbcHandle> environment;
  OdbcHandle connection;  // connected while it exists
  std::optional<OdbcDriver> driver;
  RunningStatement running;
  // Connects walked away from whose threads may still be inside the driver, by server.
  std::vector<std::pair<std::string, std::weak_ptr<void>>> leftBehind;
  // Names of the work a stop waits for; read by the stop's thread.
  mutable std::mutex awaitedMutex;
  std::vector<std::string> awaited;
};

SqlConnection::SqlConnection()
    : resultByteLimit_(kDefaultResultByteLimit), impl_(std::make_unique<Impl>()) {}

SqlConnection::~SqlConnection() { Close(); }

void SqlConnection::SetParams(ConnectionParams params) { params_ = std::move(params); }

bool SqlConnection::ConnectStillOut() const {
  return std::any_of(impl_->leftBehind.begin(), impl_->leftBehind.end(),
                     [](const auto& entry) { return !entry.second.expired(); });
}

void SqlConnection::SetDeadline(std::optional<std::chrono::steady_clock::time_point> deadline) {
  deadline_ = deadline;
  deadlineMissed_ = false;
}

std::chrono::seconds SqlConnection::LimitByDeadline(std::chrono::seconds limit) {
  if (!deadline_) return limit;
  const auto left = *deadline_ - std::chrono::steady_clock::now();
  if (left <= std::chrono::steady_clock::duration::zero()) {
    deadlineMissed_ = true;
    throw SqlError("the statement was not sent: out of time");
  }
  const std::chrono::seconds bound =
      std::max(std::chrono::seconds{1}, std::chrono::ceil<std::chrono::seconds>(left));
  return limit.count() == 0 ? bound : std::min(limit, bound);
}

SqlConnection::StopWaits::StopWaits(SqlConnection& connection, std::string what)
    : connection_(connection) {
  const std::lock_guard lock(connection_.impl_->awaitedMutex);
  connection_.impl_->awaited.push_back(std::move(what));
}

SqlConnection::StopWaits::~StopWaits() {
  const std::lock_guard lock(connection_.impl_->awaitedMutex);
  connection_.impl_->awaited.pop_back();
}

std::optional<std::string> SqlConnection::AwaitedWork() const {
  const std::lock_guard lock(impl_->awaitedMutex);
  if (impl_->awaited.empty()) return std::nullopt;
  return impl_->awaited.back();
}

bool SqlConnection::IsOpen() const { return static_cast<bool>(impl_->connection); }

void SqlConnection::Open() {
  if (IsOpen()) return;
  lastOpenCut_ = false;
  lastOpenTimedOut_ = false;
  if (halted_) {
    lastOpenCut_ = true;
    cutOpen_ = true;
    throw SqlError("the connection was not opened: the service is stopping");
  }
  Impl& impl = *impl_;
  if (!impl.environment) {
    OdbcHandle environment = OdbcHandle::Allocate(SQL_HANDLE_ENV, SQL_NULL_HANDLE);
    if (!environment) throw SqlError("the ODBC driver manager is not available");
    const SQLRETURN rc =
        SQLSetEnvAttr(environment.get(), SQL_ATTR_ODBC_VERSION,
                      reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(SQL_OV_ODBC3)), 0);
    if (!SQL_SUCCEEDED(rc)) {
      ThrowDiagnostics(SQL_HANDLE_ENV, environment.get(), "ODBC 3 behaviour not available");
    }
    impl.environment = std::make_shared<OdbcHandle>(std::move(environment));
  }
  if (!impl.driver) {
    const char* forced = std::getenv(kDriverVariable);
    impl.driver = ChooseDriver(ListInstalledDrivers(impl.environment->get()), forced ? forced : "");
    if (!impl.driver) {
      const std::string fallback = FallbackDriverName();
      if (fallback.empty()) throw SqlError("no SQL Server ODBC driver is installed");
      impl.driver = ClassifyDriver(fallback);
    }
  }

  // One given-up connect per server at most: a server that hangs every login must not gather a
  // thread, a socket and a handle per attempt.
  const std::string server = params_.hostName + "," + std::to_string(params_.portOverride);
  std::erase_if(impl.leftBehind, [](const auto& entry) { return entry.second.expired(); });
  if (std::any_of(impl.leftBehind.begin(), impl.leftBehind.end(),
                  [&](const auto& entry) { return entry.first == server; })) {
    lastOpenTimedOut_ = true;
    throw SqlError("Login timeout expired: an earlier login to the server still waits");
  }
  std::chrono::seconds loginTimeout = params_.loginTimeout;
  std::chrono::milliseconds walkAway = loginTimeout + kLoginTimeoutMargin;
  bool clamped = false;
  if (deadline_) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        *deadline_ - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      deadlineMissed_ = true;
      throw SqlError("the connection was not opened: out of time");
    }
    if (left < walkAway) {
      walkAway = left;
      loginTimeout = std::min(
          loginTimeout,
          std::max(std::chrono::seconds{1}, std::chrono::ceil<std::chrono::seconds>(left)));
      clamped = true;
    }
  }
  const auto prepare = [loginTimeout](SQLHDBC connection) {
    // BACKUP refuses to run inside a transaction: every statement commits by itself.
    SQLSetConnectAttrW(connection, SQL_ATTR_AUTOCOMMIT,
                       reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(SQL_AUTOCOMMIT_ON)),
                       SQL_IS_UINTEGER);
    SQLSetConnectAttrW(connection, SQL_ATTR_TXN_ISOLATION,
                       reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(SQL_TXN_READ_COMMITTED)),
                       SQL_IS_UINTEGER);
    // A server that takes the TCP connection and never answers must not hold the open forever.
    SQLSetConnectAttrW(connection, SQL_ATTR_LOGIN_TIMEOUT,
                       reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(loginTimeout.count())),
                       SQL_IS_UINTEGER);
  };
  ConnectOutcome outcome = ConnectInBackground(
      impl.environment,
      ToSqlWide(BuildConnectionString(*impl.driver, params_, LocalServerHost(impl.driver->kind))),
      prepare, walkAway, [this] { return ConnectsCut(); });
  if (!outcome.leftBehind.expired()) {
    impl.leftBehind.emplace_back(server, std::move(outcome.leftBehind));
  }
  switch (outcome.status) {
    case ConnectOutcome::Status::Connected:
      break;
    case ConnectOutcome::Status::Cut:
      lastOpenCut_ = true;
      cutOpen_ = true;
      throw SqlError("the connection was not opened: the service is stopping");
    case ConnectOutcome::Status::TimedOut:
      lastOpenTimedOut_ = true;
      if (clamped) deadlineMissed_ = true;
      throw SqlError("Login timeout expired");
    case ConnectOutcome::Status::Failed:
      for (const DiagRecord& record : outcome.diagnostics) {
        // HYT00: the driver's own login timeout.
        if (record.sqlState == "HYT00") lastOpenTimedOut_ = true;
      }
      ThrowRecords(outcome.diagnostics, "cannot connect");
  }

  impl.connection = std::move(outcome.connection);
  const std::optional<std::string> catalog = ReadCurrentCatalog(impl.connection.get());
  connectionDatabase_ = catalog && !catalog->empty() ? *catalog : params_.database;
  currentDatabase_ = connectionDatabase_;
}

void SqlConnection::Close() noexcept {
  if (impl_->connection) {
    SQLHDBC handle = impl_->connection.get();
    // A transaction left open (a batch that began one) blocks the disconnect
    // and with it the freeing of the handle: roll it back and try again.
    if (!SQL_SUCCEEDED(SQLDisconnect(handle))) {
      SQLEndTran(SQL_HANDLE_DBC, handle, SQL_ROLLBACK);
      SQLDisconnect(handle);
    }
    impl_->connection.reset();
  }
  currentDatabase_.clear();
  connectionDatabase_.clear();
}

StatementRun SqlConnection::Run(std::string_view sql, bool collectRows,
                                std::chrono::seconds timeLimit) {
  if (halted_) throw SqlError("the statement was not sent: the service is stopping");
  Open();
  const bool held = Held();
  const std::chrono::seconds ownLimit = held ? kHeldStatementLimit : timeLimit;
  const std::chrono::seconds limit = LimitByDeadline(ownLimit);
  StatementRun run = RunOdbcStatement(impl_->connection.get(), sql, collectRows, resultByteLimit_,
                                      &impl_->running, limit, !held);
  if (run.failed && limit != ownLimit &&
      std::any_of(run.errors.begin(), run.errors.end(),
                  [](const DiagRecord& record) { return record.sqlState == "HYT00"; })) {
    deadlineMissed_ = true;
  }
  if (run.connectionLost || (run.failed && ConnectionDead(impl_->connection.get()))) {
    Close();
    return run;
  }
  TrackCurrentDatabase(sql, !run.failed);
  return run;
}

bool SqlConnection::CancelRunningStatement(std::chrono::milliseconds minAge) {
  return impl_->running.Cancel(minAge);
}

void SqlConnection::TrackCurrentDatabase(std::string_view sql, bool succeeded) {
  if (const auto catalog = ReadCurrentCatalog(impl_->connection.get());
      catalog && !catalog->empty()) {
    currentDatabase_ = *catalog;
    return;
  }
  if (!succeeded) return;
  if (auto target = UseTarget(sql)) currentDatabase_ = std::move(*target);
}

}  // namespace mvx
