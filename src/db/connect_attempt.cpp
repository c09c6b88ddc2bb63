#include "db/connect_attempt.h"

#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

namespace mvx {
namespace {

// How soon a cut is noticed while the driver still connects.
constexpr std::chrono::milliseconds kCutCheck{20};
// A connect is cut only once it has run this long: a server that answers is
// logged in long before, so only a hung one loses its attempt (and its row).
constexpr std::chrono::milliseconds kCutSpares{500};

struct Attempt {
  // First, so it is freed after the connection handle.
  std::shared_ptr<OdbcHandle> environment;
  OdbcHandle connection;
  std::vector<SQLWCHAR> text;
  std::mutex mutex;
  std::condition_variable finished;
  bool done = false;
  bool abandoned = false;
  bool connected = false;
  std::vector<DiagRecord> diagnostics;
};

void Connect(const std::shared_ptr<Attempt>& attempt) {
  std::vector<SQLWCHAR> completed(1024);
  SQLSMALLINT completedLength = 0;
  const SQLRETURN rc = SQLDriverConnectW(
      attempt->connection.get(), nullptr, attempt->text.data(), SQL_NTS, completed.data(),
      static_cast<SQLSMALLINT>(completed.size()), &completedLength, SQL_DRIVER_NOPROMPT);
  const bool connected = SQL_SUCCEEDED(rc);
  std::vector<DiagRecord> diagnostics;
  if (!connected) diagnostics = ReadDiagnostics(SQL_HANDLE_DBC, attempt->connection.get());
  std::unique_lock lock(attempt->mutex);
  if (attempt->abandoned) {
    lock.unlock();
    // Nobody waits for this connection any more: it is ours to end.
    if (connected) SQLDisconnect(attempt->connection.get());
    attempt->connection.reset();
    return;
  }
  attempt->done = true;
  attempt->connected = connected;
  attempt->diagnostics = std::move(diagnostics);
  lock.unlock();
  attempt->finished.notify_all();
}

}  // namespace

ConnectOutcome ConnectInBackground(std::shared_ptr<OdbcHandle> environment,
                                   std::vector<SQLWCHAR> connectionString,
                                   const std::function<void(SQLHDBC)>& prepare,
                                   std::chrono::milliseconds limit,
                                   const std::function<bool()>& cut) {
  ConnectOutcome outcome;
  auto attempt = std::make_shared<Attempt>();
  attempt->connection = OdbcHandle::Allocate(SQL_HANDLE_DBC, environment->get());
  if (!attempt->connection) {
    outcome.diagnostics = ReadDiagnostics(SQL_HANDLE_ENV, environment->get());
    return outcome;
  }
  attempt->environment = std::move(environment);
  attempt->text = std::move(connectionString);
  prepare(attempt->connection.get());

  const auto begun = std::chrono::steady_clock::now();
  const auto deadline = begun + limit;
  try {
    std::thread([attempt] { Connect(attempt); }).detach();
  } catch (const std::system_error&) {
    Connect(attempt);  // no thread to spare: connect here, bounded by the driver's login timeout
  }
  std::unique_lock lock(attempt->mutex);
  while (!attempt->done) {
    const auto now = std::chrono::steady_clock::now();
    const bool isCut = now - begun >= kCutSpares && cut();
    if (isCut || now >= deadline) {
      attempt->abandoned = true;
      outcome.leftBehind = attempt;
      outcome.status = isCut ? ConnectOutcome::Status::Cut : ConnectOutcome::Status::TimedOut;
      return outcome;
    }
    attempt->finished.wait_for(lock, kCutCheck);
  }
  if (attempt->connected) {
    outcome.status = ConnectOutcome::Status::Connected;
    outcome.connection = std::move(attempt->connection);
  } else {
    outcome.diagnostics = std::move(attempt->diagnostics);
  }
  return outcome;
}

}  // namespace mvx
