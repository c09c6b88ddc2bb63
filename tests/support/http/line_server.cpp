#include "support/http/line_server.h"

#include <array>
#include <chrono>
#include <memory>

namespace mvx::testing {

namespace {

constexpr int kLineWaitMs = 3000;
constexpr int kHoldLimitMs = 15000;
constexpr std::size_t kMaxLineBytes = 64 * 1024;

}  // namespace

LineServer::LineServer(std::string address, std::uint16_t port)
    : address_(std::move(address)), listener_(address_, port), thread_([this] { Run(); }) {}

LineServer::~LineServer() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.join();
  workers_.JoinAll();
}

void LineServer::SetAnswer(Answer answer, std::string reply) {
  std::lock_guard lock(mutex_);
  answer_ = answer;
  reply_ = std::move(reply);
}

std::vector<std::string> LineServer::Received() const {
  std::lock_guard lock(mutex_);
  return received_;
}

bool LineServer::WaitForReceived(std::size_t count, int timeoutMs) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [&] { return received_.size() >= count; });
}

bool LineServer::Pause(int delayMs) {
  std::unique_lock lock(mutex_);
  return !changed_.wait_for(lock, std::chrono::milliseconds(delayMs), [this] { return stopping_; });
}

void LineServer::Run() {
  while (Pause(0)) {
    auto connection = listener_.Accept(kSliceMs);
    if (!connection) continue;
    std::lock_guard lock(mutex_);
    // Beyond the limit a connection is closed unanswered.
    workers_.Start(
        kMaxConnections,
        [this, socket = std::make_shared<TcpSocket>(std::move(*connection))] { Serve(*socket); });
  }
}

void LineServer::Serve(TcpSocket& connection) {
  std::array<char, 4096> buffer;
  std::string line;
  bool clientLeft = false;
  for (int waited = 0; line.find("\r\n") == std::string::npos && waited < kLineWaitMs;) {
    if (line.size() > kMaxLineBytes || !Pause(0)) break;
    if (connection.WaitReadable(kSliceMs) != WaitResult::kReady) {
      waited += kSliceMs;
      continue;
    }
    const long long got = connection.Recv(buffer.data(), buffer.size());
    if (got <= 0) {
      clientLeft = true;
      break;
    }
    line.append(buffer.data(), static_cast<std::size_t>(got));
  }
  Answer answer;
  std::string reply;
  {
    std::lock_guard lock(mutex_);
    received_.push_back(line);
    answer = answer_;
    reply = reply_;
  }
  changed_.notify_all();
  if (clientLeft || answer == Answer::kClose) return;
  std::string ignored;
  if (answer == Answer::kReply && !connection.SendAll(reply, 2000, ignored)) return;
  // Hold the connection until the client closes it (or the test ends).
  for (int held = 0; held < kHoldLimitMs && Pause(0); held += kSliceMs) {
    if (connection.WaitReadable(kSliceMs) == WaitResult::kReady &&
        connection.Recv(buffer.data(), buffer.size()) <= 0) {
      return;
    }
  }
}

}  // namespace mvx::testing
