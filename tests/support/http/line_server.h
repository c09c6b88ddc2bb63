#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/http/connection_workers.h"
#include "support/http/tcp_listener.h"

namespace mvx::testing {

// The support server's line port on a loopback address: records what each
// connection sends up to its first CR LF and answers it as the test says.
class LineServer {
 public:
  enum class Answer {
    kReply,   // send the reply bytes exactly as given
    kSilent,  // say nothing and keep the connection open until the client leaves
    kClose,   // close the connection without a word
  };

  explicit LineServer(std::string address = "127.0.0.1", std::uint16_t port = 0);
  ~LineServer();
  LineServer(const LineServer&) = delete;
  LineServer& operator=(const LineServer&) = delete;

  std::uint16_t Port() const { return listener_.Port(); }
  void SetAnswer(Answer answer, std::string reply = {});

  // The raw bytes each connection sent, in order of arrival.
  std::vector<std::string> Received() const;
  // Waits until that many connections have been recorded.
  bool WaitForReceived(std::size_t count, int timeoutMs) const;

 private:
  void Run();
  void Serve(TcpSocket& connection);
  bool Pause(int delayMs);  // false when the server is stopping

  std::string address_;
  TcpListener listener_;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  bool stopping_ = false;
  Answer answer_ = Answer::kReply;
  std::string reply_;
  std::vector<std::string> received_;
  ConnectionWorkers workers_;
  std::thread thread_;
};

}  // namespace mvx::testing
