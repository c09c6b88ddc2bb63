#include "support/sql/scripted_sql_server.h"

#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sql.h>
#include <sqlext.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace mvx::testing {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Test-side text goes through u"" literals and the driver, never through the server's own
// conversion, so a conversion fault cannot cancel itself out.
std::vector<SQLWCHAR> wide(std::u16string_view text) {
  std::vector<SQLWCHAR> out(text.begin(), text.end());
  out.push_back(0);
  return out;
}

struct Diag {
  std::string state;
  int native = 0;
  std::u16string text;
};

std::vector<Diag> diagnostics(SQLSMALLINT type, SQLHANDLE handle) {
  std::vector<Diag> out;
  for (SQLSMALLINT i = 1; i <= 20; ++i) {
    SQLWCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLWCHAR text[2048] = {};
    SQLSMALLINT length = 0;
    if (!SQL_SUCCEEDED(SQLGetDiagRecW(type, handle, i, state, &native, text, 2048, &length))) break;
    out.push_back({std::string(state, state + 5), native, std::u16string(text, text + length)});
  }
  return out;
}

std::vector<int> natives(const std::vector<Diag>& diags) {
  std::vector<int> out;
  for (const auto& d : diags) out.push_back(d.native);
  return out;
}

std::string returnCode(SQLRETURN rc) {
  if (rc == SQL_SUCCESS) return "SUCCESS";
  if (rc == SQL_SUCCESS_WITH_INFO) return "INFO";
  if (rc == SQL_NO_DATA) return "NO_DATA";
  if (rc == SQL_ERROR) return "ERROR";
  return std::to_string(rc);
}

class Handle {
 public:
  Handle(SQLSMALLINT type, SQLHANDLE parent) : type_(type) {
    if (!SQL_SUCCEEDED(SQLAllocHandle(type, parent, &handle_))) throw std::runtime_error("alloc");
  }
  ~Handle() { SQLFreeHandle(type_, handle_); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  SQLHANDLE get() const { return handle_; }

 private:
  SQLSMALLINT type_;
  SQLHANDLE handle_ = SQL_NULL_HANDLE;
};

using Row = std::vector<std::optional<std::u16string>>;

// One result step of a drain: SQLExecDirectW's or a SQLMoreResults's.
struct Step {
  SQLRETURN rc = 0;
  std::vector<Diag> diags;
  SQLLEN rowCount = 0;
  std::vector<Row> rows;

  // "INFO 3211 3211 count=-1": return code, native numbers, SQLRowCount when it succeeded.
  std::string summary() const {
    std::string out = returnCode(rc);
    for (int n : natives(diags)) out += " " + std::to_string(n);
    if (SQL_SUCCEEDED(rc)) out += " count=" + std::to_string(rowCount);
    return out;
  }
};

class Client {
 public:
  Client(uint16_t port, std::u16string_view database, std::u16string_view user = u"backup",
         std::u16string_view password = u"S3cret!pw") {
    SQLSetEnvAttr(env_.get(), SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    dbc_.emplace(SQL_HANDLE_DBC, env_.get());
    std::u16string text = u"DRIVER={FreeTDS};SERVER=127.0.0.1;PORT=";
    for (char c : std::to_string(port)) text.push_back(static_cast<char16_t>(c));
    text += u";UID=" + std::u16string(user) + u";PWD=" + std::u16string(password) +
            u";TDS_Version=7.4;ClientCharset=UTF-8";
    if (!database.empty()) text += u";DATABASE=" + std::u16string(database);
    auto connection = wide(text);
    connected_ = SQL_SUCCEEDED(SQLDriverConnectW(dbc_->get(), nullptr, connection.data(), SQL_NTS,
                                                 nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT));
    if (!connected_) diags = diagnostics(SQL_HANDLE_DBC, dbc_->get());
  }
  ~Client() {
    if (connected_) SQLDisconnect(dbc_->get());
  }
  bool connected() const { return connected_; }
  SQLHDBC dbc() const { return dbc_->get(); }

  // Runs a batch and drains every result, recording each step.
  std::vector<Step> run(std::u16string_view sql) {
    Handle stmt(SQL_HANDLE_STMT, dbc_->get());
    auto text = wide(sql);
    std::vector<Step> steps;
    SQLRETURN rc = SQLExecDirectW(stmt.get(), text.data(), SQL_NTS);
    for (int i = 0; i < 20; ++i) {
      Step step{rc, diagnostics(SQL_HANDLE_STMT, stmt.get()), -2, {}};
      if (rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) {
        SQLRowCount(stmt.get(), &step.rowCount);
        step.rows = fetchAll(stmt.get());
      }
      steps.push_back(std::move(step));
      if (rc == SQL_NO_DATA || rc == SQL_INVALID_HANDLE) break;
      rc = SQLMoreResults(stmt.get());
    }
    return steps;
  }

  std::vector<Diag> diags;  // of a failed login

 private:
  static std::vector<Row> fetchAll(SQLHSTMT stmt) {
    SQLSMALLINT columns = 0;
    SQLNumResultCols(stmt, &columns);
    std::vector<Row> rows;
    while (columns > 0 && rows.size() < 1000 && SQL_SUCCEEDED(SQLFetch(stmt))) {
      Row& row = rows.emplace_back();
      for (SQLUSMALLINT c = 1; c <= columns; ++c) {
        std::vector<SQLWCHAR> buffer(8192);  // room for the longest value the tests send
        SQLLEN indicator = 0;
        const SQLRETURN rc = SQLGetData(stmt, c, SQL_C_WCHAR, buffer.data(),
                                        SQLLEN(buffer.size() * sizeof(SQLWCHAR)), &indicator);
        std::optional<std::u16string> value;
        if (rc == SQL_SUCCESS && indicator != SQL_NULL_DATA) {
          value.emplace(buffer.data(), buffer.data() + indicator / SQLLEN(sizeof(SQLWCHAR)));
        }
        row.push_back(std::move(value));
      }
    }
    return rows;
  }

  Handle env_{SQL_HANDLE_ENV, SQL_NULL_HANDLE};
  std::optional<Handle> dbc_;
  bool connected_ = false;
};

SqlMessage progress(int percent) {
  return {3211, std::to_string(percent) + " percent processed.", 0, 1};
}

TEST(ScriptedSqlServerTest, LoginIsRecordedAndTypedRowsComeBackThroughTheDriver) {
  ScriptedSqlServer server;
  server.setDatabases({"Sales"});
  std::string longText;  // past NVARCHAR(4000): goes out as NVARCHAR(MAX)
  for (int i = 0; i < 4500; ++i) longText += "가";
  SqlResultSet first{{{"Id", SqlColumn::Type::Int},
                      {"Size", SqlColumn::Type::BigInt},
                      {"Name", SqlColumn::Type::Text}},
                     {{"1", "9000000000", "plain"},
                      {"-2147483648", std::nullopt, "한국어 이름"},
                      {std::nullopt, "-1", std::nullopt},
                      {"0", "0", ""}}};
  SqlResultSet second{{{"Note", SqlColumn::Type::Text}, {"Memo", SqlColumn::Type::VarChar}},
                      {{longText, "키파트 정리"}, {std::nullopt, std::nullopt}}};
  server.addRule("^select \\* from t$", {.results = {first, second}});

  Client client(server.port(), u"Sales", u"backup_user", u"S3cret!pw");
  ASSERT_TRUE(client.connected());
  ASSERT_EQ(server.logins().size(), 1u);
  EXPECT_EQ(server.logins()[0].user, "backup_user");
  EXPECT_EQ(server.logins()[0].password, "S3cret!pw");
  EXPECT_EQ(server.logins()[0].database, "Sales");

  const auto steps = client.run(u"SELECT * FROM t");
  ASSERT_EQ(steps.size(), 3u);
  EXPECT_EQ(steps[0].rc, SQL_SUCCESS);
  EXPECT_EQ(steps[0].rows, (std::vector<Row>{{u"1", u"9000000000", u"plain"},
                                             {u"-2147483648", std::nullopt, u"한국어 이름"},
                                             {std::nullopt, u"-1", std::nullopt},
                                             {u"0", u"0", u""}}));
  EXPECT_EQ(steps[1].rc, SQL_SUCCESS);
  EXPECT_EQ(steps[1].rows, (std::vector<Row>{{std::u16string(4500, u'가'), u"키파트 정리"},
                                             {std::nullopt, std::nullopt}}));
  EXPECT_EQ(steps[2].rc, SQL_NO_DATA);

  client.run(u"INSERT INTO 기록 VALUES (N'백업 완료')");
  ASSERT_EQ(server.batches().size(), 2u);
  EXPECT_EQ(server.batches()[0].database, "Sales");
  EXPECT_EQ(server.batches()[1].text, "INSERT INTO 기록 VALUES (N'백업 완료')");
}

// How a reply looks from ODBC while a caller drains it with SQLMoreResults.
TEST(ScriptedSqlServerTest, DrainShowsEachPartOfTheReplyAtTheRightStep) {
  const SqlMessage backupFailed{3013, "BACKUP DATABASE 비정상 종료.", 16, 1};
  const SqlResultSet one{{{"n", SqlColumn::Type::Int}}, {{"7"}}};
  struct Case {
    const char* name;
    SqlReply reply;
    std::vector<std::string> steps;
    std::u16string errorText{};
  };
  const std::vector<Case> cases{
      {"infos then error",
       {.infos = {progress(10), progress(20)}, .error = backupFailed},
       {"INFO 3211 3211 count=-1", "ERROR 3013", "NO_DATA"},
       u"BACKUP DATABASE 비정상 종료."},
      {"infos then success",
       {.infos = {progress(10), progress(100)}},
       {"INFO 3211 3211 count=-1", "NO_DATA"}},
      {"error alone, default severity",
       {.error = SqlMessage{50000, "실패", 0, 1}},
       {"ERROR 50000", "NO_DATA"},
       u"실패"},
      {"rows then error",
       {.results = {one}, .error = backupFailed},
       {"SUCCESS count=-1", "ERROR 3013", "NO_DATA"},
       u"BACKUP DATABASE 비정상 종료."},
      {"rows then count",
       {.results = {one}, .rowCount = 3},
       {"SUCCESS count=-1", "SUCCESS count=3", "NO_DATA"}},
      {"count alone", {.rowCount = 3}, {"SUCCESS count=3", "NO_DATA"}},
      {"procedure rows", {.results = {one}, .procedure = true}, {"SUCCESS count=-1", "NO_DATA"}},
      {"procedure error",
       {.error = backupFailed, .procedure = true, .returnStatus = -6},
       {"ERROR 3013", "NO_DATA"},
       u"BACKUP DATABASE 비정상 종료."},
      {"nothing, late", {.delay = 200ms}, {"NO_DATA"}},
      {"infos spaced out",
       {.infos = {progress(50), progress(100)}, .infoInterval = 200ms},
       {"INFO 3211 3211 count=-1", "NO_DATA"}},
  };
  ScriptedSqlServer server;
  Client client(server.port(), u"Sales");
  ASSERT_TRUE(client.connected());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    server.clearRules();
    server.addRule(".", c.reply);
    const auto started = Clock::now();
    const auto steps = client.run(u"BACKUP DATABASE Sales TO DISK = N'/b/Sales.bak'");
    const auto gaps = static_cast<int>(std::max<std::size_t>(c.reply.infos.size(), 1) - 1);
    EXPECT_GE(Clock::now() - started, c.reply.delay + gaps * c.reply.infoInterval);
    std::vector<std::string> summaries;
    for (const auto& step : steps) {
      summaries.push_back(step.summary());
      if (step.rc != SQL_ERROR) continue;
      EXPECT_EQ(step.diags.at(0).state, "42000");  // severity 16: an error, not a warning
      EXPECT_NE(step.diags[0].text.find(c.errorText), std::u16string::npos);
    }
    EXPECT_EQ(summaries, c.steps);
  }
}

// Each batch's first step, and the database each batch ran in.
TEST(ScriptedSqlServerTest, RulesAnswerInOrderAheadOfUseWhichSwitchesTheDatabase) {
  ScriptedSqlServer server;
  server.setDatabases({"Sales", "Archive", "인사"});
  server.addRule("^use trap$", {.error = SqlMessage{50001, "no", 16, 1}});
  server.addRule("^update", {.rowCount = 1}, 1);
  server.addRule("^update", {.rowCount = 2});
  Client client(server.port(), u"Sales");
  ASSERT_TRUE(client.connected());
  const std::vector<std::tuple<std::u16string, std::string, std::string>> cases{
      {u"UPDATE t SET a = 1", "SUCCESS count=1", "Sales"},
      {u"use Archive", "INFO 5701 count=-1", "Sales"},
      {u"update t SET a = 1", "SUCCESS count=2", "Archive"},
      {u"USE Missing", "ERROR 911", "Archive"},
      {u"use trap", "ERROR 50001", "Archive"},
      {u" use [인사]; ", "INFO 5701 count=-1", "Archive"},
      {u"UPDATE t SET a = 1", "SUCCESS count=2", "인사"}};
  for (const auto& [sql, first, database] : cases) {
    EXPECT_EQ(client.run(sql)[0].summary(), first);
    EXPECT_EQ(server.batches().back().database, database);
  }
}

// What the driver sends by itself when the database layer sets connection attributes.
TEST(ScriptedSqlServerTest, DriverSendsOnlyIsolationChangesAsBatches) {
  ScriptedSqlServer server;
  Client client(server.port(), u"Sales");
  ASSERT_TRUE(client.connected());
  using Texts = std::vector<std::string>;
  const std::vector<std::tuple<SQLINTEGER, SQLULEN, Texts>> cases{
      {SQL_ATTR_TXN_ISOLATION, SQL_TXN_READ_COMMITTED, {}},  // already the driver's default
      {SQL_ATTR_AUTOCOMMIT, SQL_AUTOCOMMIT_ON, {}},
      {SQL_ATTR_TXN_ISOLATION,
       SQL_TXN_SERIALIZABLE,
       {"SET TRANSACTION ISOLATION LEVEL SERIALIZABLE"}},
      {SQL_ATTR_TXN_ISOLATION,
       SQL_TXN_READ_COMMITTED,
       {"SET TRANSACTION ISOLATION LEVEL READ COMMITTED"}},
      // Transaction-manager requests (begin, then rollback), not batches.
      {SQL_ATTR_AUTOCOMMIT, SQL_AUTOCOMMIT_OFF, {}},
      {SQL_ATTR_AUTOCOMMIT, SQL_AUTOCOMMIT_ON, {}}};
  for (const auto& [attribute, value, sent] : cases) {
    server.clearRecords();
    EXPECT_EQ(SQLSetConnectAttrW(client.dbc(), attribute, reinterpret_cast<SQLPOINTER>(value), 0),
              SQL_SUCCESS);
    EXPECT_EQ(server.batchTexts(), sent);
  }
  EXPECT_EQ(client.run(u"SELECT 1")[0].summary(), "NO_DATA");
}

TEST(ScriptedSqlServerTest, LoginOutcomes) {
  struct Case {
    const char* name;
    std::u16string database;
    bool refuse;
    int native;  // 0: the login succeeds
    std::string current;
  };
  const std::vector<Case> cases{{"known database", u"Sales", false, 0, "Sales"},
                                {"name in other case", u"SALES", false, 0, "Sales"},
                                {"no database asked", u"", false, 0, "master"},
                                {"unknown database", u"Nope", false, 4060, ""},
                                {"refused", u"Sales", true, 18456, ""}};
  ScriptedSqlServer server;
  server.setDatabases({"Sales"});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    server.clearRecords();
    server.refuseLogins(c.refuse);
    {
      Client client(server.port(), c.database, u"ops");
      ASSERT_EQ(client.connected(), c.native == 0);
      if (c.native == 0) {
        client.run(u"SELECT 1");
        ASSERT_EQ(server.batches().size(), 1u);
        EXPECT_EQ(server.batches()[0].database, c.current);
      } else {
        EXPECT_THAT(natives(client.diags), ::testing::Contains(c.native));
      }
    }
    ASSERT_EQ(server.logins().size(), 1u);
    EXPECT_EQ(server.logins()[0].user, "ops");
    EXPECT_TRUE(server.waitForDisconnects(1, 5s));
  }
}

TEST(ScriptedSqlServerTest, RepliesTheWireCannotCarryAreRejectedUpFront) {
  const auto reply = [](SqlColumn::Type type, SqlCell cell) {
    return SqlReply{.results = {{{{"c", type}}, {{cell}}}}};
  };
  ScriptedSqlServer server;
  EXPECT_THROW(server.addRule("x", reply(SqlColumn::Type::Int, "12x")), std::invalid_argument);
  EXPECT_THROW(server.addRule("x", reply(SqlColumn::Type::Int, "2147483648")),
               std::invalid_argument);
  EXPECT_THROW(server.addRule("x", reply(SqlColumn::Type::BigInt, "")), std::invalid_argument);
  EXPECT_THROW(server.addRule("x", {.results = {{{{"a"}, {"b"}}, {{"only one"}}}}}),
               std::invalid_argument);
  EXPECT_THROW(server.addRule("(", {}), std::regex_error);
  EXPECT_NO_THROW(server.addRule("x", reply(SqlColumn::Type::BigInt, "-9223372036854775808")));
}

TEST(ScriptedSqlServerTest, DroppedConnectionFailsTheStatementAndIsRecorded) {
  ScriptedSqlServer server;
  server.addRule("^backup", {.infos = {progress(10)}, .dropConnection = true});
  Client client(server.port(), u"Sales");
  ASSERT_TRUE(client.connected());
  // FreeTDS reports the lost link as native 20017, then the info it had read.
  EXPECT_EQ(client.run(u"BACKUP DATABASE Sales TO DISK = N'x'")[0].summary(), "ERROR 20017 3211");
  EXPECT_TRUE(server.waitForDisconnects(1, 5s));
  EXPECT_EQ(client.run(u"SELECT 1")[0].diags.at(0).state, "08S01");
}

// The file a successful BACKUP writes, named by the last component of its disk path.
TEST(ScriptedSqlServerTest, SuccessfulBackupCreatesItsFile) {
  struct Case {
    std::u16string batch;
    std::string file;  // empty: none
  };
  const std::vector<Case> cases{
      {u"BACKUP DATABASE [a] TO DISK = N'D:\\B\\O''Brien(20240315).ful' WITH INIT",
       "O'Brien(20240315).ful"},
      {u"Backup DATABASE [a] TO DISK = N'/x/a(20240315).inc' WITH DIFFERENTIAL", "a(20240315).inc"},
      {u"BACKUP DATABASE [refused] TO DISK = N'D:\\B\\refused.ful'", ""},
      {u"BACKUP DATABASE [dropped] TO DISK = N'D:\\B\\dropped.ful'", ""},
      {u"BACKUP DATABASE [a] TO DISK = N'D:\\B\\..'", ""},
      {u"select 'BACKUP DATABASE [a] TO DISK = N''x.ful'''", ""}};
  char folder[] = "/tmp/mvx-backups-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  ScriptedSqlServer server;
  server.createBackupFiles(folder);
  server.addRule("refused", {.error = SqlMessage{3013, "BACKUP DATABASE is terminating."}});
  server.addRule("dropped", {.infos = {progress(10)}, .dropConnection = true});
  for (const Case& c : cases) {
    Client client(server.port(), u"Sales");
    ASSERT_TRUE(client.connected());
    client.run(c.batch);
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
      files.push_back(entry.path().filename().string());
      std::filesystem::remove(entry.path());
    }
    EXPECT_EQ(files, c.file.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.file})
        << std::string(c.batch.begin(), c.batch.end());
  }
  std::filesystem::remove_all(folder);
}

TEST(ScriptedSqlServerTest, CancelSendsAttentionAndTheConnectionStaysUsable) {
  ScriptedSqlServer server;
  server.addRule("^waitfor", {.delay = 10s});
  Client client(server.port(), u"Sales");
  ASSERT_TRUE(client.connected());
  Handle stmt(SQL_HANDLE_STMT, client.dbc());
  std::thread canceller([&] {
    if (server.waitForBatches(1, 5s)) SQLCancel(stmt.get());
  });
  auto text = wide(u"WAITFOR DELAY '00:00:10'");
  const auto started = Clock::now();
  const SQLRETURN rc = SQLExecDirectW(stmt.get(), text.data(), SQL_NTS);
  const auto diags = diagnostics(SQL_HANDLE_STMT, stmt.get());
  canceller.join();
  EXPECT_EQ(rc, SQL_ERROR);
  ASSERT_FALSE(diags.empty());
  EXPECT_EQ(diags[0].state, "HY008");
  EXPECT_LT(Clock::now() - started, 5s);
  EXPECT_EQ(server.attentions(), 1);
  EXPECT_EQ(client.run(u"SELECT 1")[0].summary(), "NO_DATA");
}

int threadCount() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("Threads:", 0) == 0) return std::stoi(line.substr(8));
  }
  return -1;
}

TEST(ScriptedSqlServerTest, RepeatedSessionsLeaveNoThreadsBehind) {
  ScriptedSqlServer server;
  server.addRule("^select", {.results = {{{{"n", SqlColumn::Type::Int}}, {{"1"}}}}});
  const int baseline = threadCount();
  for (int i = 0; i < 50; ++i) {
    Client client(server.port(), u"Sales");
    ASSERT_TRUE(client.connected());
    ASSERT_EQ(client.run(u"SELECT 1")[0].rows.size(), 1u);
  }
  EXPECT_TRUE(server.waitForDisconnects(50, 5s));
  EXPECT_EQ(server.activeConnections(), 0);
  const auto deadline = Clock::now() + 5s;
  while (threadCount() > baseline && Clock::now() < deadline) std::this_thread::sleep_for(10ms);
  EXPECT_LE(threadCount(), baseline);
}

TEST(ScriptedSqlServerTest, ServesClientsSideBySideAndStopsWhileTheyWait) {
  std::optional<ScriptedSqlServer> server(std::in_place);
  server->addRule("^select", {.results = {{{{"n", SqlColumn::Type::Int}}, {{"1"}}}}, .delay = 1s});
  server->addRule("^waitfor", {.delay = 30s});
  std::vector<SQLRETURN> codes(4, SQL_INVALID_HANDLE);
  std::vector<std::thread> clients;
  const uint16_t port = server->port();
  for (std::size_t i = 0; i < codes.size(); ++i) {
    clients.emplace_back([&codes, i, port] {
      Client client(port, u"Sales");
      if (client.connected()) codes[i] = client.run(u"SELECT 1")[0].rc;
    });
  }
  EXPECT_TRUE(server->waitForActiveConnections(4, 5s));
  for (auto& t : clients) t.join();
  EXPECT_THAT(codes, ::testing::Each(SQL_SUCCESS));

  // One client idle, one waiting on a long reply: stopping must not wait for either.
  Client idle(port, u"Sales");
  std::thread waiting([port] { Client(port, u"Sales").run(u"WAITFOR DELAY '00:00:30'"); });
  ASSERT_TRUE(server->waitForBatches(5, 5s));
  const auto started = Clock::now();
  server.reset();
  EXPECT_LT(Clock::now() - started, 2s);
  waiting.join();
}

// Raw bytes on a socket: the server must drop the connection and keep serving others.
class RawSocket {
 public:
  explicit RawSocket(uint16_t port) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      if (fd_ >= 0) ::close(fd_);
      throw std::runtime_error("connect");
    }
  }
  ~RawSocket() { ::close(fd_); }
  RawSocket(const RawSocket&) = delete;
  RawSocket& operator=(const RawSocket&) = delete;

  void send(const std::vector<std::uint8_t>& bytes) {
    ASSERT_EQ(::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL), ssize_t(bytes.size()));
  }
  // Reads until the server closes; false if it is still open after the timeout.
  bool closedByServer(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    std::uint8_t buffer[4096];
    while (Clock::now() < deadline) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 50) > 0 && ::recv(fd_, buffer, sizeof buffer, 0) <= 0) return true;
    }
    return false;
  }

 private:
  int fd_;
};

std::vector<std::uint8_t> packet(std::uint8_t type, std::vector<std::uint8_t> payload,
                                 std::uint8_t status = 1) {
  const auto length = payload.size() + 8;
  std::vector<std::uint8_t> out{type, status, std::uint8_t(length >> 8), std::uint8_t(length), 0, 0,
                                1,    0};
  out.insert(out.end(), payload.begin(), payload.end());
  return out;
}

// The smallest LOGIN7 there is: every variable field empty.
std::vector<std::uint8_t> emptyLogin() {
  std::vector<std::uint8_t> payload(94, 0);
  payload[0] = 94;
  return packet(0x10, payload);
}

TEST(ScriptedSqlServerTest, MalformedInputClosesOnlyThatConnection) {
  const std::vector<std::uint8_t> headers{22, 0, 0, 0, 18, 0, 0, 0, 2, 0, 0,
                                          0,  0, 0, 0, 0,  0, 0, 1, 0, 0, 0};
  auto badHeaders = headers;
  badHeaders[0] = 200;
  struct Case {
    const char* name;
    bool login;  // log in first
    std::vector<std::uint8_t> bytes;
  };
  const std::vector<Case> cases{
      {"length below the header", false, {0x12, 1, 0, 4, 0, 0, 0, 0}},
      {"batch before login", false, packet(0x01, headers)},
      {"prelogin option past the end", false, packet(0x12, {0, 0x10, 0, 0, 6, 0xFF})},
      {"login name past the end", false,
       [] {
         auto p = emptyLogin();
         p[8 + 40] = 90, p[8 + 42] = 10;  // user name: 10 characters from offset 90 of 94
         return p;
       }()},
      {"packet type changes mid-message", true,
       [&] {
         auto p = packet(0x01, headers, 0);
         auto q = packet(0x03, {0, 0});
         p.insert(p.end(), q.begin(), q.end());
         return p;
       }()},
      {"headers longer than the batch", true, packet(0x01, badHeaders)},
      {"second request while a reply is pending", true,
       [&] {
         auto batch = headers;
         batch.insert(batch.end(), {'S', 0});
         auto p = packet(0x01, batch);  // a second batch while the first one is answered
         const auto q = p;
         p.insert(p.end(), q.begin(), q.end());
         return p;
       }()},
  };
  ScriptedSqlServer server;
  server.addRule(".", {.delay = 300ms});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RawSocket raw(server.port());
    if (c.login) raw.send(emptyLogin());
    raw.send(c.bytes);
    EXPECT_TRUE(raw.closedByServer(5s));
  }
  EXPECT_TRUE(server.waitForActiveConnections(0, 5s));
  Client client(server.port(), u"Sales");
  EXPECT_TRUE(client.connected());
}

}  // namespace
}  // namespace mvx::testing
