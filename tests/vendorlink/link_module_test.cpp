#include "vendorlink/link_module.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "support/http/line_server.h"
#include "support/http/loopback_http_server.h"
#include "vendorlink/link_fixture.h"

namespace mvx {
namespace {

using testing::HttpReply;
using testing::kDeadHost;
using testing::kPrimary;
using testing::kSecondary;
using testing::LineServer;
using testing::LinkFixture;
using testing::LoopbackHttpServer;

// 한글 in CP949.
constexpr const char* kHangulAnsi = "\xC7\xD1\xB1\xDB";

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
    ++n;
  }
  return n;
}

class LinkModule : public LinkFixture {};

TEST(LinkEndpoints, ProductValues) {
  const LinkEndpoints e = DefaultLinkEndpoints();
  EXPECT_FALSE(e.primaryHost.empty());
  EXPECT_FALSE(e.secondaryHost.empty());
  EXPECT_NE(e.primaryHost, e.secondaryHost);
  EXPECT_EQ(e.httpPort, 80);
  EXPECT_EQ(e.linePort, 1126);
  EXPECT_EQ(e.pingTimeoutMs, 3000);
  EXPECT_EQ(e.httpConnectTimeoutMs, 3000);
  EXPECT_EQ(e.httpReadTimeoutMs, 3000);
  EXPECT_EQ(e.exchangeWaitMs, 10000);
  EXPECT_EQ(e.sendWaitMs, 2000);
}

// The product's own ICMP echo against loopback hosts, end to end.
TEST_F(LinkModule, RealPingCheckAndReport) {
  LineServer lines(kPrimary);
  lines.SetAnswer(LineServer::Answer::kReply, "012PNG1013PNG");
  auto endpoints = Endpoints(1, lines.Port());
  std::unique_ptr<TdMFunc> link;
  try {
    link = std::make_unique<TdMFunc>(clock_, log_, endpoints);
  } catch (const std::runtime_error& e) {
    GTEST_SKIP() << "no ICMP socket here: " << e.what();
  }
  link->SetTransportMode("1");
  EXPECT_TRUE(link->CheckLink());
  EXPECT_EQ(link->CurrentHostAddress(), kPrimary);
  link->SendReport("2", "INST01", "ERPDB", "013", "PC-01");
  ASSERT_TRUE(lines.WaitForReceived(2, 2000));
  EXPECT_EQ(lines.Received()[1], "ATB||ER||INST01||ERPDB||013||PC-01||ATB\r\n");

  // A host that answers the ping but has nothing on the line port.
  endpoints.primaryHost = kDeadHost;
  link = std::make_unique<TdMFunc>(clock_, log_, endpoints);
  link->SetTransportMode("1");
  EXPECT_FALSE(link->CheckLink());
  EXPECT_EQ(link->CurrentHostAddress(), kDeadHost);
}

TEST_F(LinkModule, HandshakePassesOnlyForTheExactAnswer) {
  struct Case {
    LineServer::Answer answer;
    std::string reply;
    bool passes;
  };
  const Case cases[] = {
      {LineServer::Answer::kReply, "012PNG1013PNG", true},
      {LineServer::Answer::kReply, "012PNG0013PNG", false},
      {LineServer::Answer::kReply, "012PNG2013PNG", false},
      {LineServer::Answer::kReply, "012PNG1013PNG\r\n", false},
      {LineServer::Answer::kReply, "BUSY", false},
      {LineServer::Answer::kReply, "012PNG1", false},
      {LineServer::Answer::kReply, std::string("012PNG1013PNG\0junk", 18), true},
      {LineServer::Answer::kSilent, "", false},
      {LineServer::Answer::kClose, "", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reply);
    LineServer server(kPrimary);
    server.SetAnswer(c.answer, c.reply);
    auto link = MakeLink(Endpoints(1, server.Port()));
    ASSERT_TRUE(link->PingSupportHost());
    EXPECT_EQ(link->ProbeSocketLink(server.Port()), c.passes);
    ASSERT_TRUE(server.WaitForReceived(1, 2000));
    EXPECT_EQ(server.Received().at(0), "012PNG*013PNG\r\n");
  }
}

TEST_F(LinkModule, SocketExchangeStatuses) {
  LineServer server(kPrimary);
  auto link = MakeLink(Endpoints(1, server.Port()));
  ASSERT_TRUE(link->PingSupportHost());

  server.SetAnswer(LineServer::Answer::kReply, "pong\r\n");
  SocketExchangeResult done = link->SocketExchange("ping", server.Port());
  EXPECT_EQ(done.status, kSocketDone);
  EXPECT_EQ(done.reply, "pong\r\n");

  server.SetAnswer(LineServer::Answer::kClose);
  done = link->SocketExchange("ping", server.Port());
  EXPECT_EQ(done.status, kSocketDone);
  EXPECT_EQ(done.reply, "");

  server.SetAnswer(LineServer::Answer::kSilent);
  EXPECT_EQ(link->SocketExchange("ping", server.Port()).status, kSocketNoReply);
  EXPECT_EQ(link->SocketSend("ping", server.Port()), kSocketDone);

  pinger_.SetAnswering({kDeadHost});
  link = MakeLink([&] {
    auto e = Endpoints(1, server.Port());
    e.primaryHost = kDeadHost;
    return e;
  }());
  ASSERT_TRUE(link->PingSupportHost());
  EXPECT_EQ(link->CurrentHostAddress(), kDeadHost);
  EXPECT_EQ(link->SocketExchange("ping", server.Port()).status, kSocketNoConnection);
  EXPECT_EQ(link->SocketSend("ping", server.Port()), kSocketNoConnection);
}

TEST_F(LinkModule, SilentPrimaryFallsBackToSecondaryForTheSocketOnly) {
  LineServer lines(kSecondary);
  lines.SetAnswer(LineServer::Answer::kReply, "012PNG1013PNG");
  LoopbackHttpServer http(kPrimary);
  pinger_.SetAnswering({kSecondary});
  auto link = MakeLink(Endpoints(http.Port(), lines.Port()));

  EXPECT_EQ(link->SelectSupportHost(), kSecondary);
  link->SetTransportMode("1");
  EXPECT_TRUE(link->CheckLink());
  EXPECT_EQ(link->CurrentHostAddress(), kSecondary);

  link->SendReport("2", "INST01", "ERPDB", "012", "PC-01");
  ASSERT_TRUE(lines.WaitForReceived(2, 2000));
  EXPECT_EQ(lines.Received().at(1), "ATB||ER||INST01||ERPDB||012||PC-01||ATB\r\n");

  link->SetTransportMode("3");
  link->SendReport("2", "INST01", "ERPDB", "012", "PC-01");
  ASSERT_EQ(http.Requests().size(), 1u);
  EXPECT_EQ(http.Requests()[0].rfind("POST /API/BK_SendError.php HTTP/1.0\r\n", 0), 0u);
  EXPECT_NE(http.Requests()[0].find("Host: 127.0.0.2\r\n"), std::string::npos);
}

TEST_F(LinkModule, NoHostAnswersAPing) {
  pinger_.SetAnswering({kSecondary});
  auto link = MakeLink(Endpoints(1, 1));
  ASSERT_TRUE(link->PingSupportHost());
  pinger_.SetAnswering({});
  EXPECT_EQ(link->SelectSupportHost(), "");
  EXPECT_FALSE(link->PingSupportHost());
  EXPECT_EQ(link->CurrentHostAddress(), kSecondary);
  link->SetTransportMode("1");
  EXPECT_FALSE(link->CheckLink());
  EXPECT_FALSE(link->LinkFlag());
  EXPECT_EQ(link->CurrentHostAddress(), "");
}

// A host name is looked up once per operation, for its ping and its
// connection alike; an address never is.
TEST_F(LinkModule, HostNamesAreLookedUpOncePerOperation) {
  struct Case {
    const char* primary;
    const char* mode;
    int lookups;
  };
  for (const Case& c : {Case{"support.test", "3", 1}, Case{"support.test", "1", 1},
                        Case{kPrimary, "3", 0}, Case{"unknown.test", "3", 1}}) {
    SCOPED_TRACE(std::string(c.primary) + " mode " + c.mode);
    LoopbackHttpServer http(kPrimary);
    LineServer lines(kPrimary);
    auto endpoints = Endpoints(http.Port(), lines.Port());
    endpoints.primaryHost = c.primary;
    auto link = MakeLink(endpoints);
    auto lookups = std::make_shared<std::atomic<int>>(0);
    link->SetNameLookup([lookups](const std::string& name) {
      ++*lookups;
      return name == "support.test" ? std::string(kPrimary) : std::string();
    });
    pinger_.SetAnswering({kPrimary});
    pinger_.pinged.clear();
    link->SetTransportMode(c.mode);
    link->SendReport("2", "INST01", "ERPDB", "012", "PC-01");
    EXPECT_EQ(lookups->load(), c.lookups);
    if (std::string(c.primary) == "unknown.test") {
      // A name that does not resolve is a silent host: only the secondary is pinged.
      EXPECT_EQ(pinger_.pinged, std::vector<std::string>{kSecondary});
    } else if (std::string(c.mode) == "1") {
      EXPECT_TRUE(lines.WaitForReceived(1, 2000));
    } else {
      ASSERT_EQ(http.Requests().size(), 1u);
      EXPECT_NE(http.Requests()[0].find(std::string("Host: ") + c.primary + "\r\n"),
                std::string::npos);
    }
  }
}

// A lookup that hangs ends at the link's bound, and at once on a stop; its
// late answer is dropped.
TEST_F(LinkModule, HangingLookupEndsAtTheBoundOrOnAStop) {
  std::atomic<bool> stop{false};
  auto endpoints = Endpoints(1, 1);
  endpoints.primaryHost = "slow.test";
  endpoints.secondaryHost = "slow2.test";
  for (const int boundMs : {200, 600'000}) {
    SCOPED_TRACE(boundMs);
    endpoints.resolveTimeoutMs = boundMs;
    TdMFunc link(clock_, log_, endpoints, pinger_, &stop);
    link.SetNameLookup([](const std::string&) {
      std::this_thread::sleep_for(std::chrono::seconds(3));
      return std::string(kPrimary);
    });
    pinger_.SetAnswering({kPrimary});
    pinger_.pinged.clear();
    std::thread stopper;
    if (boundMs > 1000) {
      stopper = std::thread([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        stop = true;
      });
    }
    const auto begun = std::chrono::steady_clock::now();
    EXPECT_FALSE(link.PingSupportHost());
    if (stopper.joinable()) stopper.join();
    EXPECT_LT(std::chrono::steady_clock::now() - begun, std::chrono::seconds(30));
    EXPECT_TRUE(pinger_.pinged.empty());
    EXPECT_EQ(link.CurrentHostAddress(), "");
  }
}

TEST_F(LinkModule, TransportModeChoosesCheckAndReportTransport) {
  struct Case {
    const char* mode;
    bool httpCheck;
    bool httpReports;
  };
  for (const Case& c : {Case{"1", false, false}, Case{"2", true, true}, Case{"7", false, true},
                        Case{"", false, true}}) {
    SCOPED_TRACE(std::string("mode '") + c.mode + "'");
    LoopbackHttpServer http(kPrimary);
    http.Enqueue(HttpReply(200, "OK", "1"));
    LineServer lines(kPrimary);
    lines.SetAnswer(LineServer::Answer::kReply, "012PNG1013PNG");
    pinger_.pinged.clear();
    auto link = MakeLink(Endpoints(http.Port(), lines.Port()));
    link->SetTransportMode(c.mode);

    EXPECT_TRUE(link->CheckLink());
    EXPECT_TRUE(link->LinkFlag());
    if (c.httpCheck) {
      EXPECT_TRUE(pinger_.pinged.empty());
      ASSERT_EQ(http.Requests().size(), 1u);
      EXPECT_EQ(http.Requests()[0].rfind("GET /isValidServer.php HTTP/1.1\r\n", 0), 0u);
      EXPECT_TRUE(lines.Received().empty());
    } else {
      EXPECT_EQ(pinger_.pinged, std::vector<std::string>{kPrimary});
      EXPECT_TRUE(http.Requests().empty());
      ASSERT_TRUE(lines.WaitForReceived(1, 2000));
      EXPECT_EQ(lines.Received()[0], "012PNG*013PNG\r\n");
    }

    const std::size_t linesBefore = lines.Received().size();
    const std::size_t requestsBefore = http.Requests().size();
    link->SendReport("4", "INST01", "ERPDB", "011", "PC-01");
    if (c.httpReports) {
      ASSERT_EQ(http.Requests().size(), requestsBefore + 1);
      EXPECT_EQ(http.Requests().back().rfind("POST /API/BK_SendError.php", 0), 0u);
      EXPECT_EQ(lines.Received().size(), linesBefore);
    } else {
      ASSERT_TRUE(lines.WaitForReceived(linesBefore + 1, 2000));
      EXPECT_EQ(lines.Received().back(), "ATB||KX||INST01||ERPDB||011||PC-01||ATB\r\n");
      EXPECT_EQ(http.Requests().size(), requestsBefore);
    }
  }
}

TEST_F(LinkModule, CheckValidServerWantsExactlyOne) {
  struct Case {
    int status;
    std::string body;
    bool valid;
  };
  for (const Case& c : {Case{200, "1", true}, Case{200, "1\r\n", false}, Case{200, "0", false},
                        Case{200, " 1", false}, Case{500, "1", false}}) {
    SCOPED_TRACE(c.body);
    LoopbackHttpServer http(kPrimary);
    http.Enqueue(HttpReply(c.status, "X", c.body));
    auto link = MakeLink(Endpoints(http.Port(), 1));
    EXPECT_EQ(link->CheckValidServer(), c.valid);
  }
  auto refused = MakeLink([] {
    auto e = Endpoints(1, 1);
    e.primaryHost = kDeadHost;
    return e;
  }());
  EXPECT_FALSE(refused->CheckValidServer());
}

TEST_F(LinkModule, SocketReportLines) {
  struct Case {
    const char* kind;
    std::string installation;
    std::string database;
    const char* code;
    std::string computer;
    std::string line;
  };
  const Case cases[] = {
      {"2", " INST01 ", "ERPDB ", "012", " PC-01\t",
       "ATB||ER||INST01||ERPDB ||012||PC-01||ATB\r\n"},
      {"4", "INST01", "ERPDB", "010", "PC-01", "ATB||KX||INST01||ERPDB||010||PC-01||ATB\r\n"},
      {"2", "INST01", "", "007", "PC-01", "ATB||ER||INST01||||007||PC-01||ATB\r\n"},
      {"2", "INST01", "한글", "002", "PC-01",
       std::string("ATB||ER||INST01||") + kHangulAnsi + "||002||PC-01||ATB\r\n"},
  };
  LineServer lines(kPrimary);
  auto link = MakeLink(Endpoints(1, lines.Port()));
  link->SetTransportMode("1");
  std::size_t n = 0;
  for (const auto& c : cases) {
    link->SendReport(c.kind, c.installation, c.database, c.code, c.computer);
    ASSERT_TRUE(lines.WaitForReceived(++n, 2000));
    EXPECT_EQ(lines.Received().back(), c.line);
  }
}

TEST_F(LinkModule, ExactBytesOfReportPosts) {
  LoopbackHttpServer http(kPrimary);
  auto link = MakeLink(Endpoints(http.Port(), 1));
  link->SetTransportMode("2");
  link->SendReport("2", " INST01 ", "", "007", "PC-01");
  link->SendReport("4", "INST01", "한글 ", "011", "PC 01");

  auto expected = [](const std::string& fields) {
    const std::string body = fields + "----------030626140509007--\r\n";
    return "POST /API/BK_SendError.php HTTP/1.0\r\n"
           "Connection: keep-alive\r\n"
           "Content-Type: multipart/form-data; boundary=--------030626140509007\r\n"
           "Content-Length: " +
           std::to_string(body.size()) +
           "\r\n"
           "Host: 127.0.0.2\r\n"
           "Accept: text/html, */*\r\n"
           "User-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n"
           "\r\n" +
           body;
  };
  auto part = [](const std::string& name, const std::string& value) {
    return "----------030626140509007\r\nContent-Disposition: form-data; name=\"" + name +
           "\"\r\n\r\n" + value + "\r\n";
  };
  const auto requests = http.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0], expected(part("SORT", "ER") + part("ID", "INST01") + part("DATABASE", "") +
                                  part("ERROR", "007") + part("PCNAME", "PC-01")));
  EXPECT_EQ(requests[1],
            expected(part("SORT", "KX") + part("ID", "INST01") + part("DATABASE", "%C7%D1%B1%DB") +
                     part("ERROR", "011") + part("PCNAME", "PC+01")));
}

TEST_F(LinkModule, ReportGate) {
  LineServer lines(kPrimary);
  LoopbackHttpServer http(kPrimary);
  auto link = MakeLink(Endpoints(http.Port(), lines.Port()));
  for (const char* mode : {"1", "2"}) {
    link->SetTransportMode(mode);
    pinger_.pinged.clear();
    link->SendReport("2", "", "ERPDB", "012", "PC-01");
    EXPECT_TRUE(pinger_.pinged.empty());
    link->SendReport("3", "INST01", "ERPDB", "012", "PC-01");
    EXPECT_FALSE(pinger_.pinged.empty());
    EXPECT_TRUE(link->LinkFlag());
    pinger_.SetAnswering({});
    link->SendReport("2", "INST01", "ERPDB", "012", "PC-01");
    EXPECT_FALSE(link->LinkFlag());
    pinger_.SetAnswering({kPrimary, kSecondary});
  }
  EXPECT_FALSE(lines.WaitForReceived(1, 200));
  EXPECT_TRUE(http.Requests().empty());
}

TEST_F(LinkModule, ReportWhileTheServerIsDownNeverRaisesAndLogsOnce) {
  clock_.SetStepMilliseconds(1);  // distinct log keys, so only suppression keeps one line
  pinger_.SetAnswering({kDeadHost});
  auto endpoints = Endpoints(1, 1);
  endpoints.primaryHost = kDeadHost;
  auto link = MakeLink(endpoints);
  for (const char* mode : {"2", "1"}) {
    link->SetTransportMode(mode);
    EXPECT_NO_THROW(link->SendReport("2", "INST01", "ERPDB", "002", "PC-01"));
    EXPECT_NO_THROW(link->SendReport("2", "INST01", "ERPDB", "003", "PC-01"));
  }
  const std::string log = testing::ReadFileBytes(log_.LogPath());
  EXPECT_EQ(Count(log, "Report not sent"), 2u) << log;

  LoopbackHttpServer http(kPrimary);
  http.Enqueue(HttpReply(500, "Internal Server Error", ""));
  pinger_.SetAnswering({kPrimary});
  link = MakeLink(Endpoints(http.Port(), 1));
  link->SetTransportMode("2");
  EXPECT_NO_THROW(link->SendReport("2", "INST01", "ERPDB", "002", "PC-01"));
  EXPECT_EQ(log_.LastFileLogText(), "Report not sent: HTTP/1.1 500 Internal Server Error");
}

}  // namespace
}  // namespace mvx
