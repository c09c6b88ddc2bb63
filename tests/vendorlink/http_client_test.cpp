#include "vendorlink/http_client.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <sstream>
#include <string>
#include <thread>

#include "support/http/loopback_http_server.h"
#include "vendorlink/http_error.h"

namespace mvx {
namespace {

using testing::Delayed;
using testing::HttpReply;
using testing::HttpScriptedReply;
using testing::LoopbackHttpServer;
using testing::RawReply;

constexpr const char* kAgentLines =
    "Accept: text/html, */*\r\n"
    "User-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n";

HttpClientOptions QuickOptions() {
  HttpClientOptions options;
  options.readTimeoutMs = 400;
  options.connectTimeoutMs = 1000;
  return options;
}

// The status of the HttpError the call throws, or nothing when it succeeds.
template <typename F>
std::optional<int> FailureStatus(F call) {
  try {
    call();
  } catch (const HttpError& e) {
    return e.status();
  }
  return std::nullopt;
}

TEST(HttpClient, GetCarriesTheContentTypeOfTheLatestPost) {
  LoopbackHttpServer server("127.0.0.2");
  HttpClient client(QuickOptions());
  HttpForm form("--------010203040506007");
  form.AddField("SORT", "ER");
  form.AddField("ID", "");

  EXPECT_EQ(client.HttpGetText(server.Url("/isValidServer.php")), "");
  EXPECT_EQ(client.HttpPostForm(server.Url("/API/BK_SendError.php"), form), "");
  EXPECT_EQ(client.HttpGetText(server.Url("/x?a=1")), "");

  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0], std::string("GET /isValidServer.php HTTP/1.1\r\n"
                                     "Content-Type: application/json;charset=euc-kr\r\n"
                                     "Host: 127.0.0.2\r\n") +
                             kAgentLines + "\r\n");
  const std::string body =
      "----------010203040506007\r\n"
      "Content-Disposition: form-data; name=\"SORT\"\r\n\r\nER\r\n"
      "----------010203040506007\r\n"
      "Content-Disposition: form-data; name=\"ID\"\r\n\r\n\r\n"
      "----------010203040506007--\r\n";
  EXPECT_EQ(requests[1], std::string("POST /API/BK_SendError.php HTTP/1.0\r\n"
                                     "Connection: keep-alive\r\n"
                                     "Content-Type: multipart/form-data; "
                                     "boundary=--------010203040506007\r\n"
                                     "Content-Length: ") +
                             std::to_string(body.size()) + "\r\nHost: 127.0.0.2\r\n" + kAgentLines +
                             "\r\n" + body);
  EXPECT_EQ(requests[2], std::string("GET /x?a=1 HTTP/1.1\r\n"
                                     "Content-Type: multipart/form-data; "
                                     "boundary=--------010203040506007\r\n"
                                     "Host: 127.0.0.2\r\n") +
                             kAgentLines + "\r\n");
}

TEST(HttpClient, CookiesGoBackToTheHostThatSetThem) {
  LoopbackHttpServer server("127.0.0.2");
  LoopbackHttpServer other("127.0.0.3");
  server.Enqueue(
      HttpReply(200, "OK", "",
                {"Set-Cookie: SID=abc123; Path=/; HttpOnly", "Set-cookie2: LANG=ko; Version=1"}));
  server.Enqueue(HttpReply(302, "Found", "", {"Set-Cookie: SID=def456", "Location: /elsewhere"}));
  server.Enqueue(HttpReply(200, "OK", "", {"Set-Cookie: LANG=; Max-Age=0"}));
  HttpClient client(QuickOptions());

  client.HttpGetText(server.Url("/a"));
  EXPECT_EQ(FailureStatus([&] { client.HttpGetText(server.Url("/b")); }), 302);
  client.HttpGetText(server.Url("/c"));
  client.HttpGetText(server.Url("/d"));
  client.HttpGetText(other.Url("/e"));

  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 4u);
  EXPECT_EQ(requests[0].find("Cookie:"), std::string::npos);
  EXPECT_NE(requests[1].find(std::string(kAgentLines) + "Cookie: SID=abc123; LANG=ko\r\n\r\n"),
            std::string::npos);
  EXPECT_NE(requests[2].find("Cookie: SID=def456; LANG=ko\r\n"), std::string::npos);
  EXPECT_NE(requests[3].find("Cookie: SID=def456\r\n"), std::string::npos);
  EXPECT_EQ(other.Requests().at(0).find("Cookie:"), std::string::npos);
}

struct StatusCase {
  const char* name;
  HttpScriptedReply reply;
  std::optional<int> failure;  // HttpError status, none for success
  std::string body;
};

TEST(HttpClient, AnswersAndTheirOutcomes) {
  const StatusCase cases[] = {
      {"200", HttpReply(200, "OK", "1"), std::nullopt, "1"},
      {"200 empty", HttpReply(200, "OK", ""), std::nullopt, ""},
      {"204", RawReply("HTTP/1.1 204 No Content\r\n\r\n"), std::nullopt, ""},
      {"302 not followed", HttpReply(302, "Found", "moved", {"Location: /other"}), 302, ""},
      {"304", RawReply("HTTP/1.1 304 Not Modified\r\n\r\n"), 304, ""},
      {"404", HttpReply(404, "Not Found", "nope"), 404, ""},
      {"500", HttpReply(500, "Internal Server Error", "boom"), 500, ""},
      {"chunked",
       RawReply("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                "3\r\nabc\r\n2\r\nde\r\n0\r\n\r\n"),
       std::nullopt, "abcde"},
      {"until close", RawReply("HTTP/1.0 200 OK\r\n\r\nall of it"), std::nullopt, "all of it"},
      {"100 first",
       RawReply("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\n"
                "Content-Length: 2\r\nConnection: close\r\n\r\nok"),
       std::nullopt, "ok"},
      {"closed early", RawReply("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc"), 0, ""},
      {"closed without answer", RawReply(""), 0, ""},
      {"lying chunk size",
       RawReply("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                "2\r\nabcdef\r\n0\r\n\r\n"),
       0, ""},
      {"malformed status", RawReply("HTTP/1.1 OK\r\n\r\n"), 0, ""},
      {"negative length", RawReply("HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\n"), 0, ""},
      {"stall before answer", Delayed(HttpReply(200, "OK", "late"), 1500), 0, ""},
      {"stall inside body",
       HttpScriptedReply{{{0, "HTTP/1.1 200 OK\r\nContent-Length: 8\r\n\r\nabcd"}, {1500, "efgh"}}},
       0, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    LoopbackHttpServer server("127.0.0.2");
    server.Enqueue(c.reply);
    server.Enqueue(HttpReply(200, "OK", "next"));
    HttpClient client(QuickOptions());
    std::string body;
    EXPECT_EQ(FailureStatus([&] { body = client.HttpGetText(server.Url("/q")); }), c.failure);
    EXPECT_EQ(body, c.body);
    // The failed answer body stays out of the result, and the client is usable again.
    EXPECT_EQ(client.HttpGetText(server.Url("/again")), "next");
    EXPECT_EQ(server.Requests().size(), 2u);
  }
}

TEST(HttpClient, FailureCarriesStatusLineAndBody) {
  LoopbackHttpServer server("127.0.0.2");
  server.Enqueue(HttpReply(500, "Internal Server Error", "database down"));
  HttpClient client(QuickOptions());
  try {
    client.HttpGetText(server.Url("/"));
    FAIL() << "no error";
  } catch (const HttpError& e) {
    EXPECT_EQ(e.status(), 500);
    EXPECT_STREQ(e.what(), "HTTP/1.1 500 Internal Server Error");
    EXPECT_EQ(e.responseText(), "database down");
  }
}

// A stall fails at the read timeout, or sooner on a stop request.
TEST(HttpClient, StallLongerThanTheRealReadTimeoutFails) {
  for (const bool stopping : {false, true}) {
    LoopbackHttpServer server("127.0.0.2");
    server.Enqueue(Delayed(HttpReply(200, "OK", "late"), 3600));
    std::atomic<bool> stop{false};
    HttpClientOptions options;  // the product's 3000 ms waits
    options.stop = &stop;
    HttpClient client(options);
    std::thread stopper([&] {
      if (!stopping) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      stop = true;
    });
    try {
      client.HttpGetText(server.Url("/slow"));
      ADD_FAILURE() << "no error";
    } catch (const HttpError& e) {
      EXPECT_EQ(e.status(), 0);
      EXPECT_STREQ(e.what(), stopping ? "Stopped" : "Read timed out");
    }
    stopper.join();
  }
}

TEST(HttpClient, RefusedConnectionFails) {
  HttpClient client(QuickOptions());
  std::uint16_t port;
  {
    LoopbackHttpServer gone("127.0.0.2");
    port = gone.Port();
  }
  EXPECT_EQ(
      FailureStatus([&] { client.HttpGetText("http://127.0.0.2:" + std::to_string(port) + "/"); }),
      0);
  EXPECT_EQ(FailureStatus([&] { client.HttpGetText("ftp://127.0.0.2/"); }), 0);
}

TEST(HttpClient, KeptAliveConnectionIsReusedByGetsOnly) {
  LoopbackHttpServer server("127.0.0.2");
  server.Enqueue(HttpReply(200, "OK", "a", {}, true));
  server.Enqueue(HttpReply(200, "OK", "b", {}, true));
  server.Enqueue(HttpReply(200, "OK", "c", {}, true));
  HttpClient client(QuickOptions());
  EXPECT_EQ(client.HttpGetText(server.Url("/1")), "a");
  EXPECT_EQ(client.HttpGetText(server.Url("/2")), "b");
  EXPECT_EQ(server.ConnectionCount(), 1);
  client.HttpPostForm(server.Url("/3"), HttpForm("--------000000000000000"));
  EXPECT_EQ(server.ConnectionCount(), 2);
}

TEST(HttpClient, DeadKeptAliveConnectionIsReplacedOnce) {
  LoopbackHttpServer server("127.0.0.2");
  // Promises keep-alive, then closes anyway.
  HttpScriptedReply liar = HttpReply(200, "OK", "first", {}, true);
  liar.keepOpen = false;
  server.Enqueue(liar);
  server.Enqueue(HttpReply(200, "OK", "second"));
  HttpClient client(QuickOptions());
  EXPECT_EQ(client.HttpGetText(server.Url("/1")), "first");
  EXPECT_EQ(client.HttpGetText(server.Url("/2")), "second");
  EXPECT_EQ(server.ConnectionCount(), 2);
}

TEST(HttpClient, TextBodyIsBoundedButStreamsAreNot) {
  const std::string big(3 * 1024 * 1024 + 17, 'z');
  std::string chunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
  for (std::size_t at = 0; at < big.size(); at += 70000) {
    const std::string piece = big.substr(at, 70000);
    char size[32];
    std::snprintf(size, sizeof size, "%zx\r\n", piece.size());
    chunked += size + piece + "\r\n";
  }
  chunked += "0\r\n\r\n";

  LoopbackHttpServer server("127.0.0.2");
  server.Enqueue(RawReply(chunked));
  server.Enqueue(RawReply(chunked));
  HttpClientOptions options = QuickOptions();
  options.maxTextBodyBytes = 1024 * 1024;
  HttpClient client(options);
  EXPECT_EQ(FailureStatus([&] { client.HttpGetText(server.Url("/big")); }), 0);
  std::ostringstream out;
  client.HttpGetToStream(server.Url("/big"), out);
  EXPECT_TRUE(out.str() == big);
}

}  // namespace
}  // namespace mvx
