#include "support/sql/scripted_sql_server.h"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <fstream>
#include <list>
#include <mutex>
#include <regex>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>

#include "support/sql/server_socket.h"
#include "support/sql/tds_wire.h"

namespace mvx::testing {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kMaxMessageBytes = 16 * 1024 * 1024;
constexpr std::size_t kDefaultPacketSize = 4096;
constexpr auto kMidMessageTimeout = std::chrono::seconds(10);
constexpr int kSendTimeoutSeconds = 10;
constexpr auto kReapInterval = std::chrono::milliseconds(200);

using sqlnet::Handle;
using sqlnet::UniqueHandle;

// The session is over: the client left, the server is stopping, or the reply said to drop.
struct SessionEnded {};

bool isSqlSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           const auto lower = [](char c) {
             return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
           };
           return lower(x) == lower(y);
         });
}

// `use <db>` as the server understands it: a plain name, or a bracketed one with `]]` for `]`;
// an optional trailing semicolon is allowed.
std::optional<std::string> parseUse(std::string_view text) {
  const auto trim = [](std::string_view& t) {
    while (!t.empty() && isSqlSpace(t.front())) t.remove_prefix(1);
    while (!t.empty() && isSqlSpace(t.back())) t.remove_suffix(1);
  };
  trim(text);
  if (!text.empty() && text.back() == ';') text.remove_suffix(1);
  trim(text);
  if (text.size() < 4 || !equalsIgnoreCase(text.substr(0, 3), "use") || !isSqlSpace(text[3])) {
    return std::nullopt;
  }
  text.remove_prefix(3);
  trim(text);
  if (text.empty()) return std::nullopt;
  if (text.front() != '[') {
    if (std::any_of(text.begin(), text.end(), isSqlSpace)) return std::nullopt;
    return std::string(text);
  }
  std::string name;
  for (std::size_t i = 1; i < text.size(); ++i) {
    if (text[i] != ']') {
      name.push_back(text[i]);
    } else if (i + 1 < text.size() && text[i + 1] == ']') {
      name.push_back(']');
      ++i;
    } else {
      return i + 1 == text.size() ? std::optional<std::string>(name) : std::nullopt;
    }
  }
  return std::nullopt;
}

// The path in a BACKUP batch's TO DISK = N'...' literal, quotes undoubled; nullopt for any
// other batch.
std::optional<std::string> backupDiskPath(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; });
  const std::size_t start = lower.find_first_not_of(" \t\r\n");
  constexpr std::string_view kDisk = "to disk = n'";
  const std::size_t disk = lower.find(kDisk);
  if (start == std::string::npos || lower.compare(start, 7, "backup ") != 0 ||
      disk == std::string::npos) {
    return std::nullopt;
  }
  std::string path;
  for (std::size_t i = disk + kDisk.size(); i < text.size(); ++i) {
    if (text[i] != '\'') {
      path.push_back(text[i]);
    } else if (i + 1 < text.size() && text[i + 1] == '\'') {
      path.push_back('\'');
      ++i;
    } else {
      return path;
    }
  }
  return std::nullopt;
}

// What the API and the sessions share; every member is guarded by `mutex`.
class SharedState {
 public:
  struct Rule {
    std::regex pattern;
    SqlReply reply;
    int remaining;
  };

  void recordLogin(SqlLogin login);
  bool refusing() const;
  bool hanging();
  std::optional<std::string> findDatabase(const std::string& name) const;
  std::optional<SqlReply> recordBatch(const std::string& text, const std::string& database);
  void countAttention();
  void countFault(int SqlFaultCounts::*counter);
  void writeBackupFile(const std::string& text);

  mutable std::mutex mutex;
  mutable std::condition_variable changed;
  std::vector<Rule> rules;
  std::vector<std::string> databases;
  bool refuse = false;
  bool down = false;
  bool hang = false;
  int hung = 0;
  std::string backupFolder;  // empty: BACKUP creates no file
  std::vector<SqlLogin> logins;
  std::vector<SqlBatch> batches;
  int disconnects = 0;
  int attentions = 0;
  int active = 0;
  SqlFaultCounts faults;
};

// One client connection, served on its own thread.
class Session {
 public:
  Session(SharedState& server, Handle fd, Handle wakeFd, uint16_t spid)
      : server_(server), fd_(fd), wakeFd_(wakeFd), spid_(spid) {}

  void run() {
    try {
      if (server_.hanging()) hang();
      login();
      for (;;) {
        const auto message = receive(std::nullopt);
        switch (message.type) {
          case tds::packet::kSqlBatch:
            answerBatch(tds::parseSqlBatch(message.payload));
            break;
          case tds::packet::kAttention:
            acknowledgeAttention();
            break;
          case tds::packet::kTransactionManager:
            answerTransaction(tds::parseTransactionRequest(message.payload));
            break;
          case tds::packet::kRpc:
            // Parameterised or prepared statements: say so plainly instead of a lost link.
            out_.message(true, {50000,
                                "The scripted SQL server answers only SQL batches, not RPC "
                                "requests (prepared or parameterised statements).",
                                16, 1});
            out_.done(tds::done::kError, 0, 0);
            send(true);
            break;
          default:
            throw tds::ProtocolError("unexpected packet type");
        }
      }
    } catch (...) {
      // Malformed input, a lost client or a stop all end just this connection.
    }
  }

 private:
  struct Message {
    std::uint8_t type = 0;
    tds::Bytes payload;
  };
  enum class Pause { Elapsed, Attention };

  // Waits until the socket has data (or was closed). Throws SessionEnded when the server stops;
  // false when the deadline passed first. No deadline: wait for the next request as long as the
  // server runs.
  bool waitReadable(std::optional<Clock::time_point> deadline) {
    for (;;) {
      int timeoutMs = -1;
      if (deadline) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now()).count();
        timeoutMs = static_cast<int>(std::clamp<long long>(left, 0, 60'000));
      }
      bool readable = false;
      bool woken = false;
      if (sqlnet::WaitReadable(fd_, wakeFd_, timeoutMs, readable, woken) < 0) throw SessionEnded{};
      if (woken) throw SessionEnded{};
      if (readable) return true;
      if (deadline && Clock::now() >= *deadline) return false;
    }
  }

  void readExact(std::uint8_t* into, std::size_t count, std::optional<Clock::time_point> deadline) {
    std::size_t got = 0;
    while (got < count) {
      if (!waitReadable(deadline)) throw tds::ProtocolError("client stalled inside a packet");
      const long long n = sqlnet::ReceiveSome(fd_, into + got, count - got);
      if (n == 0) throw SessionEnded{};
      if (n < 0) {
        if (sqlnet::ShouldRetry()) continue;
        throw SessionEnded{};
      }
      got += static_cast<std::size_t>(n);
      // Once a packet has begun, the rest must follow promptly.
      if (!deadline) deadline = Clock::now() + kMidMessageTimeout;
    }
  }

  // Reads one whole message (all packets up to end-of-message).
  Message receive(std::optional<Clock::time_point> deadline) {
    for (;;) {
      Message message;
      bool first = true;
      bool ignore = false;
      for (;;) {
        std::array<std::uint8_t, tds::packet::kHeaderSize> header{};
        readExact(header.data(), header.size(),
                  first ? deadline : Clock::now() + kMidMessageTimeout);
        const std::size_t length = (std::size_t{header[2]} << 8) | header[3];
        if (length < tds::packet::kHeaderSize) throw tds::ProtocolError("packet length too small");
        if (!first && header[0] != message.type) throw tds::ProtocolError("packet type changed");
        message.type = header[0];
        const std::size_t body = length - tds::packet::kHeaderSize;
        if (message.payload.size() + body > kMaxMessageBytes) {
          throw tds::ProtocolError("message too large");
        }
        const std::size_t at = message.payload.size();
        message.payload.resize(at + body);
        readExact(message.payload.data() + at, body, Clock::now() + kMidMessageTimeout);
        first = false;
        ignore = (header[1] & tds::packet::kIgnore) != 0;
        if ((header[1] & tds::packet::kEndOfMessage) != 0) break;
      }
      if (!ignore) return message;
    }
  }

  // Sends what the token writer holds. Without end-of-message the client gets it now and the
  // reply goes on later (infos before a pause, or before a drop).
  void send(bool endOfMessage) {
    auto& bytes = out_.bytes();
    if (bytes.empty() && !endOfMessage) return;
    const std::size_t chunk = packetSize_ - tds::packet::kHeaderSize;
    std::size_t at = 0;
    do {
      const std::size_t n = std::min(chunk, bytes.size() - at);
      const bool last = at + n == bytes.size();
      const auto length = static_cast<std::uint16_t>(n + tds::packet::kHeaderSize);
      tds::Bytes packet{
          tds::packet::kReply,
          static_cast<std::uint8_t>(last && endOfMessage ? tds::packet::kEndOfMessage : 0),
          static_cast<std::uint8_t>(length >> 8),
          static_cast<std::uint8_t>(length & 0xFF),
          static_cast<std::uint8_t>(spid_ >> 8),
          static_cast<std::uint8_t>(spid_ & 0xFF),
          packetId_++,
          0};
      packet.insert(packet.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at),
                    bytes.begin() + static_cast<std::ptrdiff_t>(at + n));
      sendAll(packet);
      at += n;
    } while (at < bytes.size());
    bytes.clear();
  }

  void sendAll(const tds::Bytes& data) {
    std::size_t sent = 0;
    while (sent < data.size()) {
      const long long n = sqlnet::SendSome(fd_, data.data() + sent, data.size() - sent);
      if (n < 0) {
        if (sqlnet::ShouldRetry()) continue;
        throw SessionEnded{};  // gone, or not reading for kSendTimeoutSeconds
      }
      sent += static_cast<std::size_t>(n);
    }
  }

  // Waits `length`, but an ATTENTION from the client cuts it short unless it is to be ignored.
  Pause pause(std::chrono::milliseconds length, bool ignoreAttention = false) {
    const auto deadline = Clock::now() + length;
    while (waitReadable(deadline)) {
      if (receive(Clock::now() + kMidMessageTimeout).type != tds::packet::kAttention) {
        throw tds::ProtocolError("request while a reply is under way");
      }
      if (!ignoreAttention) return Pause::Attention;
      server_.countAttention();
    }
    return Pause::Elapsed;
  }

  // Reads and drops whatever comes until the client leaves or the server stops.
  [[noreturn]] void hang() {
    for (;;) {
      waitReadable(std::nullopt);
      std::array<std::uint8_t, 512> sink{};
      const long long n = sqlnet::ReceiveSome(fd_, sink.data(), sink.size());
      if (n == 0 || (n < 0 && !sqlnet::ShouldRetry())) throw SessionEnded{};
    }
  }

  void acknowledgeAttention() {
    server_.countAttention();
    out_.bytes().clear();
    out_.done(tds::done::kAttention, 0, 0);
    send(true);
  }

  void login() {
    auto message = receive(Clock::now() + kMidMessageTimeout);
    if (message.type == tds::packet::kPrelogin) {
      tds::checkPrelogin(message.payload);
      out_.bytes() = tds::preloginReply();
      send(true);
      message = receive(Clock::now() + kMidMessageTimeout);
    }
    if (message.type != tds::packet::kLogin7) throw tds::ProtocolError("expected LOGIN7");
    const auto request = tds::parseLogin7(message.payload);
    server_.recordLogin({request.user, request.password, request.database});

    if (server_.refusing()) {
      server_.countFault(&SqlFaultCounts::refusedLogins);
      fail({18456, "Login failed for user '" + request.user + "'.", 14, 1});
    }
    const std::string wanted = request.database.empty() ? "master" : request.database;
    const auto database = server_.findDatabase(wanted);
    if (!database) {
      fail({4060,
            "Cannot open database \"" + wanted + "\" requested by the login. The login failed.", 11,
            1});
    }
    database_ = *database;

    const std::size_t asked = request.packetSize == 0 ? kDefaultPacketSize : request.packetSize;
    const std::size_t negotiated = std::clamp<std::size_t>(asked, 512, 32767);
    out_.envChange(tds::env::kDatabase, database_, "master");
    announceDatabase(2);
    out_.envChangeBinary(tds::env::kCollation, tds::kServerCollation, {});
    out_.envChange(tds::env::kLanguage, "us_english", "");
    out_.loginAck();
    out_.envChange(tds::env::kPacketSize, std::to_string(negotiated),
                   std::to_string(kDefaultPacketSize));
    out_.done(0, 0, 0);
    send(true);
    packetSize_ = negotiated;
  }

  [[noreturn]] void fail(const SqlMessage& error) {
    out_.message(true, error);
    out_.done(tds::done::kError, 0, 0);
    send(true);
    throw SessionEnded{};
  }

  // The info a real server sends with every change of the current database.
  void announceDatabase(int state) {
    out_.message(false, {5701, "Changed database context to '" + database_ + "'.", 0, state});
  }

  void answerBatch(const std::string& text) {
    if (auto reply = server_.recordBatch(text, database_)) {
      if (reply->procedure) return answerProcedure(*reply);
      answer(*reply, text);
    } else if (auto name = parseUse(text)) {
      answerUse(*name);
    } else {
      server_.writeBackupFile(text);
      out_.done(0, 0, 0);
      send(true);
    }
  }

  void answerUse(const std::string& name) {
    if (const auto database = server_.findDatabase(name)) {
      out_.envChange(tds::env::kDatabase, *database, database_);
      database_ = *database;
      announceDatabase(1);
      out_.done(0, 0, 0);
    } else {
      out_.message(true, {911,
                          "Database '" + name +
                              "' does not exist. Make sure that the name is entered correctly.",
                          16, 1});
      out_.done(tds::done::kError, 0, 0);
    }
    send(true);
  }

  void answer(const SqlReply& reply, const std::string& text) {
    if (reply.delay.count() > 0 && pause(reply.delay, reply.ignoreAttention) == Pause::Attention) {
      return acknowledgeAttention();
    }
    for (std::size_t i = 0; i < reply.infos.size(); ++i) {
      out_.message(false, reply.infos[i]);
      if (reply.infoInterval.count() > 0 && i + 1 < reply.infos.size()) {
        send(false);
        if (pause(reply.infoInterval) == Pause::Attention) return acknowledgeAttention();
      }
    }
    if (reply.dropConnection) {
      server_.countFault(&SqlFaultCounts::droppedBatches);
      send(false);
      sqlnet::ShutdownBoth(fd_);
      throw SessionEnded{};
    }

    constexpr std::uint16_t kSelect = 0xC1;
    const bool finalDoneFollows = reply.rowCount || reply.error || reply.results.empty();
    for (std::size_t i = 0; i < reply.results.size(); ++i) {
      const auto& result = reply.results[i];
      out_.resultSet(result);
      const bool last = i + 1 == reply.results.size() && !finalDoneFollows;
      out_.done(static_cast<std::uint16_t>(tds::done::kCount | (last ? 0 : tds::done::kMore)),
                kSelect, result.rows.size());
    }
    std::uint16_t status = 0;
    if (reply.error) {
      server_.countFault(&SqlFaultCounts::errorReplies);
      if (!reply.infos.empty() && reply.results.empty()) out_.done(tds::done::kMore, 0, 0);
      SqlMessage error = *reply.error;
      if (error.severity == 0) error.severity = 16;
      out_.message(true, error);
      status |= tds::done::kError;
    }
    if (reply.rowCount) status |= tds::done::kCount;
    if (finalDoneFollows) {
      out_.done(status, 0,
                static_cast<std::uint64_t>(std::max<long long>(0, reply.rowCount.value_or(0))));
    }
    if (!reply.error) server_.writeBackupFile(text);
    send(true);
  }

  // A stored procedure called by the batch: its own statements end with DONEINPROC, the call
  // with RETURNSTATUS and DONEPROC.
  void answerProcedure(const SqlReply& reply) {
    constexpr std::uint16_t kSelect = 0xC1;
    constexpr std::uint16_t kExecute = 0xE0;
    for (const SqlMessage& info : reply.infos) out_.message(false, info);
    for (const auto& result : reply.results) {
      out_.resultSet(result);
      out_.doneInProc(tds::done::kCount | tds::done::kMore, kSelect, result.rows.size());
    }
    if (reply.rowCount) {
      out_.doneInProc(tds::done::kCount | tds::done::kMore, 0,
                      static_cast<std::uint64_t>(std::max<long long>(0, *reply.rowCount)));
    }
    std::uint16_t status = 0;
    if (reply.error) {
      server_.countFault(&SqlFaultCounts::errorReplies);
      SqlMessage error = *reply.error;
      if (error.severity == 0) error.severity = 16;
      out_.message(true, error);
      out_.doneInProc(tds::done::kError | tds::done::kMore, 0, 0);
      status = tds::done::kError;
    }
    out_.returnStatus(reply.returnStatus);
    out_.doneProc(status, kExecute, 0);
    send(true);
  }

  void answerTransaction(tds::TransactionRequest request) {
    // Begin hands out a descriptor; commit and rollback hand it back.
    static constexpr std::array<std::uint8_t, 8> kDescriptor{1, 0, 0, 0, 0, 0, 0, 0};
    switch (request) {
      case tds::TransactionRequest::Begin:
        out_.envChangeBinary(tds::env::kBeginTransaction, kDescriptor, {});
        break;
      case tds::TransactionRequest::Commit:
        out_.envChangeBinary(tds::env::kCommitTransaction, {}, kDescriptor);
        break;
      case tds::TransactionRequest::Rollback:
        out_.envChangeBinary(tds::env::kRollbackTransaction, {}, kDescriptor);
        break;
      case tds::TransactionRequest::Other:
        break;
    }
    out_.done(0, 0, 0);
    send(true);
  }

  SharedState& server_;
  const Handle fd_;
  const Handle wakeFd_;  // readable once the server stops
  const uint16_t spid_;
  std::size_t packetSize_ = kDefaultPacketSize;
  std::uint8_t packetId_ = 1;
  tds::TokenWriter out_;
  std::string database_;
};

}  // namespace

class ScriptedSqlServer::Impl {
 public:
  Impl();
  ~Impl();
  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;

  SharedState state;
  uint16_t port = 0;

 private:
  struct Connection {
    UniqueHandle socket;  // closed under the state mutex so the destructor can shut it down safely
    std::thread thread;
    bool finished = false;
  };

  void acceptLoop();
  void accept();
  void serve(Connection& connection, uint16_t spid);
  void reapFinished();

  UniqueHandle listener_;
  sqlnet::WakeSignal wake_;  // raised once the server stops; every wait in every thread watches it
  bool stopping_ = false;
  uint16_t nextSpid_ = 51;
  std::list<Connection> connections_;
  std::thread acceptThread_;
};

ScriptedSqlServer::Impl::Impl() {
  listener_ = sqlnet::ListenLoopback(port);
  acceptThread_ = std::thread([this] { acceptLoop(); });
}

ScriptedSqlServer::Impl::~Impl() {
  {
    std::lock_guard lock(state.mutex);
    stopping_ = true;
  }
  wake_.Raise();
  if (acceptThread_.joinable()) acceptThread_.join();

  std::list<Connection> all;
  {
    std::lock_guard lock(state.mutex);
    // Unblocks a session stuck in send() or recv(); the wake pipe covers the ones in poll().
    for (auto& connection : connections_) {
      if (connection.socket) sqlnet::ShutdownBoth(connection.socket.get());
    }
    all.splice(all.end(), connections_);
  }
  for (auto& connection : all) {
    if (connection.thread.joinable()) connection.thread.join();
  }
}

void ScriptedSqlServer::Impl::acceptLoop() {
  for (;;) {
    bool pending = false;
    bool woken = false;
    const int r = sqlnet::WaitReadable(listener_.get(), wake_.Watch(),
                                       static_cast<int>(kReapInterval.count()), pending, woken);
    if (r < 0 || woken) return;
    try {
      reapFinished();
      if (pending) accept();
    } catch (...) {
      // Out of memory or threads: this client is lost, the server goes on.
    }
  }
}

void ScriptedSqlServer::Impl::accept() {
  UniqueHandle client = sqlnet::AcceptClient(listener_.get(), kSendTimeoutSeconds);
  if (!client) {
    // Out of descriptors and the like: back off instead of spinning on a ready listener.
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return;
  }

  std::lock_guard lock(state.mutex);
  if (state.down && !stopping_) ++state.faults.closedWhileDown;
  if (stopping_ || state.down) return;
  auto& connection = connections_.emplace_back();
  connection.socket = std::move(client);
  const uint16_t spid = nextSpid_++;
  try {
    connection.thread = std::thread([this, &connection, spid] { serve(connection, spid); });
    ++state.active;
  } catch (const std::system_error&) {
    connections_.pop_back();
  }
  state.changed.notify_all();
}

void ScriptedSqlServer::Impl::serve(Connection& connection, uint16_t spid) {
  Session(state, connection.socket.get(), wake_.Watch(), spid).run();
  std::lock_guard lock(state.mutex);
  connection.socket.reset();
  connection.finished = true;
  --state.active;
  ++state.disconnects;
  state.changed.notify_all();
}

void ScriptedSqlServer::Impl::reapFinished() {
  std::list<Connection> finished;
  {
    std::lock_guard lock(state.mutex);
    for (auto it = connections_.begin(); it != connections_.end();) {
      auto next = std::next(it);
      if (it->finished) finished.splice(finished.end(), connections_, it);
      it = next;
    }
  }
  for (auto& connection : finished) {
    if (connection.thread.joinable()) connection.thread.join();
  }
}

void SharedState::recordLogin(SqlLogin login) {
  std::lock_guard lock(mutex);
  logins.push_back(std::move(login));
  changed.notify_all();
}

bool SharedState::hanging() {
  std::lock_guard lock(mutex);
  if (hang) ++hung;
  changed.notify_all();
  return hang;
}

bool SharedState::refusing() const {
  std::lock_guard lock(mutex);
  return refuse;
}

std::optional<std::string> SharedState::findDatabase(const std::string& name) const {
  std::lock_guard lock(mutex);
  if (databases.empty()) return name;
  for (const auto& known : databases) {
    if (equalsIgnoreCase(known, name)) return known;
  }
  if (equalsIgnoreCase(name, "master")) return std::string("master");
  return std::nullopt;
}

std::optional<SqlReply> SharedState::recordBatch(const std::string& text,
                                                 const std::string& database) {
  std::lock_guard lock(mutex);
  batches.push_back({text, database});
  changed.notify_all();
  for (auto& rule : rules) {
    if (rule.remaining == 0 || !std::regex_search(text, rule.pattern)) continue;
    if (rule.remaining > 0) --rule.remaining;
    return rule.reply;
  }
  return std::nullopt;
}

void SharedState::countAttention() {
  std::lock_guard lock(mutex);
  ++attentions;
  changed.notify_all();
}

void SharedState::countFault(int SqlFaultCounts::*counter) {
  std::lock_guard lock(mutex);
  ++(faults.*counter);
}

void SharedState::writeBackupFile(const std::string& text) {
  std::lock_guard lock(mutex);
  if (backupFolder.empty()) return;
  const auto path = backupDiskPath(text);
  if (!path) return;
  const std::string name = path->substr(path->find_last_of("\\/") + 1);
  if (name.empty() || name == "." || name == "..") return;
  std::ofstream file(backupFolder + "/" + name, std::ios::binary | std::ios::trunc);
  file << text;
}

ScriptedSqlServer::ScriptedSqlServer() : impl_(std::make_unique<Impl>()) {}

ScriptedSqlServer::~ScriptedSqlServer() = default;

uint16_t ScriptedSqlServer::port() const { return impl_->port; }

void ScriptedSqlServer::addRule(const std::string& pattern, SqlReply reply, int times) {
  for (const auto& result : reply.results) tds::validate(result);
  std::regex compiled(pattern, std::regex::ECMAScript | std::regex::icase);
  std::lock_guard lock(impl_->state.mutex);
  impl_->state.rules.push_back({std::move(compiled), std::move(reply), times < 0 ? -1 : times});
}

void ScriptedSqlServer::clearRules() {
  std::lock_guard lock(impl_->state.mutex);
  impl_->state.rules.clear();
}

void ScriptedSqlServer::setDatabases(std::vector<std::string> names) {
  std::lock_guard lock(impl_->state.mutex);
  impl_->state.databases = std::move(names);
}

void ScriptedSqlServer::refuseLogins(bool refuse) {
  std::lock_guard lock(impl_->state.mutex);
  impl_->state.refuse = refuse;
}

void ScriptedSqlServer::setDown(bool down) {
  std::lock_guard lock(impl_->state.mutex);
  impl_->state.down = down;
}

void ScriptedSqlServer::createBackupFiles(std::string folder) {
  std::lock_guard lock(impl_->state.mutex);
  impl_->state.backupFolder = std::move(folder);
}

void ScriptedSqlServer::hangLogins(bool hang) {
  std::lock_guard lock(impl_->state.mutex);
  impl_->state.hang = hang;
}

int ScriptedSqlServer::hungConnections() const {
  std::lock_guard lock(impl_->state.mutex);
  return impl_->state.hung;
}

std::vector<SqlLogin> ScriptedSqlServer::logins() const {
  std::lock_guard lock(impl_->state.mutex);
  return impl_->state.logins;
}

std::vector<SqlBatch> ScriptedSqlServer::batches() const {
  std::lock_guard lock(impl_->state.mutex);
  return impl_->state.batches;
}

std::vector<std::string> ScriptedSqlServer::batchTexts() const {
  std::lock_guard lock(impl_->state.mutex);
  std::vector<std::string> texts;
  texts.reserve(impl_->state.batches.size());
  for (const auto& batch : impl_->state.batches) texts.push_back(batch.text);
  return texts;
}

int ScriptedSqlServer::disconnects() const {
  std::lock_guard lock(impl_->state.mutex);
  return impl_->state.disconnects;
}

int ScriptedSqlServer::attentions() const {
  std::lock_guard lock(impl_->state.mutex);
  return impl_->state.attentions;
}

int ScriptedSqlServer::activeConnections() const {
  std::lock_guard lock(impl_->state.mutex);
  return impl_->state.active;
}

void ScriptedSqlServer::clearRecords() {
  std::lock_guard lock(impl_->state.mutex);
  impl_->state.logins.clear();
  impl_->state.batches.clear();
  impl_->state.disconnects = 0;
  impl_->state.attentions = 0;
}

SqlFaultCounts ScriptedSqlServer::faultCounts() const {
  std::lock_guard lock(impl_->state.mutex);
  return impl_->state.faults;
}

bool ScriptedSqlServer::waitForBatches(std::size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(impl_->state.mutex);
  return impl_->state.changed.wait_for(lock, timeout,
                                       [&] { return impl_->state.batches.size() >= count; });
}

bool ScriptedSqlServer::waitForDisconnects(int count, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(impl_->state.mutex);
  return impl_->state.changed.wait_for(lock, timeout,
                                       [&] { return impl_->state.disconnects >= count; });
}

bool ScriptedSqlServer::waitForActiveConnections(int count,
                                                 std::chrono::milliseconds timeout) const {
  std::unique_lock lock(impl_->state.mutex);
  return impl_->state.changed.wait_for(lock, timeout, [&] { return impl_->state.active == count; });
}

}  // namespace mvx::testing
