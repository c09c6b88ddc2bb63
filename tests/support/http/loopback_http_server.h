#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "support/http/connection_workers.h"
#include "support/http/tcp_listener.h"

namespace mvx::testing {

// One piece of an answer, sent after a pause.
struct HttpReplyStep {
  int delayMs = 0;
  std::string bytes;
};

// What the server does with one request: send the steps in order, then close
// the connection or wait on it for the next request.
struct HttpScriptedReply {
  std::vector<HttpReplyStep> steps;
  bool keepOpen = false;
};

// A complete answer with Content-Length; `headers` are whole lines without CR LF.
HttpScriptedReply HttpReply(int status, std::string_view reason, std::string_view body,
                            const std::vector<std::string>& headers = {}, bool keepAlive = false);
// Bytes sent exactly as given; the connection then closes.
HttpScriptedReply RawReply(std::string bytes);
// The same answer after a pause.
HttpScriptedReply Delayed(HttpScriptedReply reply, int delayMs);

// An HTTP server on a loopback address that records every request's raw bytes
// and answers requests in order from a script (then with the fallback reply,
// 200 with an empty body unless set). Each connection is served on its own thread, so
// a stalled answer never holds up the next connection.
class LoopbackHttpServer {
 public:
  explicit LoopbackHttpServer(std::string address = "127.0.0.1");
  ~LoopbackHttpServer();
  LoopbackHttpServer(const LoopbackHttpServer&) = delete;
  LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

  std::uint16_t Port() const { return listener_.Port(); }
  const std::string& Address() const { return address_; }
  // http://address:port and the path.
  std::string Url(std::string_view path) const;

  void Enqueue(HttpScriptedReply reply);
  void SetFallbackReply(HttpScriptedReply reply);
  std::vector<std::string> Requests() const;
  int ConnectionCount() const;

 private:
  void Run();
  void Serve(TcpSocket& connection);
  // A whole request (head and Content-Length body), or empty when the client left.
  std::string ReadRequest(TcpSocket& connection, std::string& pending);
  bool Pause(int delayMs);  // false when the server is stopping

  std::string address_;
  TcpListener listener_;
  mutable std::mutex mutex_;
  std::condition_variable stopSignal_;
  bool stopping_ = false;
  std::deque<HttpScriptedReply> script_;
  HttpScriptedReply fallback_ = HttpReply(200, "OK", "");
  std::vector<std::string> requests_;
  int connections_ = 0;
  ConnectionWorkers workers_;
  std::thread thread_;
};

}  // namespace mvx::testing
