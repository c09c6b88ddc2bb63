#include "vendorlink/http_response_parser.h"

#include <gtest/gtest.h>

#include <string>

namespace mvx {
namespace {

class RecordingHandler final : public HttpResponseHandler {
 public:
  void OnHeaders(const HttpResponseParser&) override { ++headerCalls; }
  void OnBody(std::string_view bytes) override { body.append(bytes); }
  int headerCalls = 0;
  std::string body;
};

struct Outcome {
  bool complete = false;
  std::string error;
  int status = 0;
  std::string body;
  bool keepAlive = false;
  std::size_t consumed = 0;
};

// Feeds the input whole or one byte at a time; the result must not depend on it.
Outcome Parse(std::string_view input, bool peerCloses, bool byteByByte,
              HttpParserLimits limits = {}) {
  HttpResponseParser parser(limits);
  RecordingHandler handler;
  Outcome out;
  if (byteByByte) {
    for (std::size_t i = 0; i < input.size() && !parser.Complete() && !parser.Failed(); ++i) {
      out.consumed += parser.Feed(input.substr(i, 1), handler);
    }
  } else {
    out.consumed = parser.Feed(input, handler);
  }
  if (peerCloses) parser.FinishInput();
  out.complete = parser.Complete();
  out.error = parser.Error();
  out.status = parser.StatusCode();
  out.body = handler.body;
  out.keepAlive = parser.KeepAlive();
  if (parser.Complete()) {
    EXPECT_EQ(handler.headerCalls, 1);
  }
  return out;
}

struct GoodCase {
  const char* name;
  std::string input;
  bool peerCloses;
  int status;
  std::string body;
  bool keepAlive;
};

TEST(HttpResponseParser, ReadsEveryBodyFraming) {
  const GoodCase cases[] = {
      {"length", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello", false, 200, "hello", true},
      {"bare LF line ends", "HTTP/1.1 200 OK\nContent-Length: 2\n\nok", false, 200, "ok", true},
      {"chunked with extension and trailer",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n4\r\nWiki\r\n5;name=x\r\npedia\r\n"
       "0\r\nX-Trailer: 1\r\n\r\n",
       false, 200, "Wikipedia", true},
      {"chunk size in upper-case hex",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
       "A\r\n0123456789\r\n0\r\n\r\n",
       false, 200, "0123456789", true},
      {"until close", "HTTP/1.0 200 OK\r\n\r\nsome body", true, 200, "some body", false},
      {"interim 100 skipped",
       "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\n1", false, 200,
       "1", true},
      {"204 has no body", "HTTP/1.1 204 No Content\r\nContent-Length: 7\r\n\r\n", false, 204, "",
       true},
      {"HTTP/1.0 keep-alive",
       "HTTP/1.0 200 OK\r\nConnection: keep-alive\r\nContent-Length: 0\r\n\r\n", false, 200, "",
       true},
      {"HTTP/1.0 without keep-alive", "HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n", false, 200,
       "", false},
      {"HTTP/1.1 close",
       "HTTP/1.1 200 OK\r\nConnection: Keep-Alive, close\r\nContent-Length: 0\r\n\r\n", false, 200,
       "", false},
      {"folded header and empty reason",
       "HTTP/1.1 500\r\nX-A: one\r\n two\r\nContent-Length: 3\r\n\r\nbad", false, 500, "bad", true},
      {"equal repeated lengths",
       "HTTP/1.1 200 OK\r\nContent-Length: 2, 2\r\nContent-Length: 2\r\n\r\nab", false, 200, "ab",
       true},
      {"chunked wins over length",
       "HTTP/1.1 200 OK\r\nContent-Length: 100\r\nTransfer-Encoding: "
       "chunked\r\n\r\n1\r\nx\r\n0\r\n\r\n",
       false, 200, "x", false},
  };
  for (const auto& c : cases) {
    for (bool byteByByte : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (byteByByte ? " (byte by byte)" : ""));
      Outcome out = Parse(c.input, c.peerCloses, byteByByte);
      EXPECT_TRUE(out.complete) << out.error;
      EXPECT_EQ(out.status, c.status);
      EXPECT_EQ(out.body, c.body);
      EXPECT_EQ(out.keepAlive, c.keepAlive);
      EXPECT_EQ(out.consumed, c.input.size());
    }
  }
}

TEST(HttpResponseParser, StopsAtTheEndOfTheAnswer) {
  const std::string first = "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nabc";
  Outcome out = Parse(first + "HTTP/1.1 200 OK\r\n", false, false);
  EXPECT_TRUE(out.complete);
  EXPECT_EQ(out.body, "abc");
  EXPECT_EQ(out.consumed, first.size());
}

struct BadCase {
  const char* name;
  std::string input;
  bool peerCloses;
  const char* error;
};

TEST(HttpResponseParser, HostileInputEndsInAnError) {
  HttpParserLimits limits;
  std::string manyHeaders = "HTTP/1.1 200 OK\r\n";
  for (int i = 0; i < 150; ++i) manyHeaders += "X-" + std::to_string(i) + ": v\r\n";
  std::string hugeHeaders = "HTTP/1.1 200 OK\r\n";
  for (int i = 0; i < 20; ++i) hugeHeaders += "X-Big: " + std::string(4000, 'a') + "\r\n";
  std::string interims;
  for (int i = 0; i < 10; ++i) interims += "HTTP/1.1 100 Continue\r\n\r\n";

  const BadCase cases[] = {
      {"empty answer", "", true, "without a response"},
      {"not HTTP", "ICY 200 OK\r\n\r\n", false, "Malformed status line"},
      {"two-digit status", "HTTP/1.1 20 OK\r\n\r\n", false, "Malformed status line"},
      {"HTTP/2", "HTTP/2 200 OK\r\n\r\n", false, "Malformed status line"},
      {"binary junk", std::string("\x00\xff\x16\x03\x01\n", 6), false, "Malformed status line"},
      {"endless status line", "HTTP/1.1 200 " + std::string(20000, 'x'), false, "too long"},
      {"endless header line", "HTTP/1.1 200 OK\r\nX: " + std::string(20000, 'x'), false,
       "too long"},
      {"header without colon", "HTTP/1.1 200 OK\r\nNoColon\r\n\r\n", false, "Malformed header"},
      {"fold before any header", "HTTP/1.1 200 OK\r\n folded\r\n\r\n", false, "Malformed header"},
      {"too many headers", manyHeaders, false, "Too many header lines"},
      {"huge header block", hugeHeaders, false, "header too large"},
      {"negative length", "HTTP/1.1 200 OK\r\nContent-Length: -1\r\n\r\n", false,
       "Invalid Content-Length"},
      {"overflowing length", "HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999\r\n\r\n",
       false, "Invalid Content-Length"},
      {"conflicting lengths", "HTTP/1.1 200 OK\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\n",
       false, "Invalid Content-Length"},
      {"length with junk", "HTTP/1.1 200 OK\r\nContent-Length: 1x\r\n\r\n", false,
       "Invalid Content-Length"},
      {"chunk size not hex", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n", false,
       "Malformed chunk size"},
      {"chunk size overflowing",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nFFFFFFFFFFFFFFFFF\r\n", false,
       "Chunk size too large"},
      {"chunk longer than its size",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabcdef\r\n0\r\n\r\n", false,
       "longer than its size"},
      {"chunk shorter than its size",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n9\r\nabc\r\n0\r\n\r\n", true,
       "before the response was complete"},
      {"body cut short", "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc", true,
       "before the response was complete"},
      {"headers cut short", "HTTP/1.1 200 OK\r\nContent-Le", true,
       "before the response was complete"},
      {"missing last chunk", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1\r\na\r\n",
       true, "before the response was complete"},
      {"endless interim answers", interims, false, "Too many interim answers"},
  };
  for (const auto& c : cases) {
    for (bool byteByByte : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (byteByByte ? " (byte by byte)" : ""));
      Outcome out = Parse(c.input, c.peerCloses, byteByByte, limits);
      EXPECT_FALSE(out.complete);
      EXPECT_NE(out.error.find(c.error), std::string::npos) << out.error;
    }
  }
}

}  // namespace
}  // namespace mvx
