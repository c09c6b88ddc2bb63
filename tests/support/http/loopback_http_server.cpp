#include "support/http/loopback_http_server.h"

#include <array>
#include <chrono>
#include <cstdlib>
#include <memory>

#include "common/text_util.h"

namespace mvx::testing {

namespace {

constexpr std::size_t kMaxRequestBytes = 8 * 1024 * 1024;
constexpr int kIdleLimitMs = 10000;

std::size_t ContentLength(std::string_view head) {
  std::size_t at = 0;
  while ((at = head.find("\r\n", at)) != std::string_view::npos) {
    at += 2;
    std::string_view line = head.substr(at, head.find("\r\n", at) - at);
    constexpr std::string_view kName = "content-length:";
    if (line.size() > kName.size() && EqualsNoCase(line.substr(0, kName.size()), kName)) {
      return static_cast<std::size_t>(
          std::strtoull(std::string(line.substr(kName.size())).c_str(), nullptr, 10));
    }
  }
  return 0;
}

}  // namespace

HttpScriptedReply HttpReply(int status, std::string_view reason, std::string_view body,
                            const std::vector<std::string>& headers, bool keepAlive) {
  std::string bytes = "HTTP/1.1 " + std::to_string(status) + " " + std::string(reason) + "\r\n";
  for (const auto& h : headers) bytes += h + "\r\n";
  bytes += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  bytes += keepAlive ? "Connection: keep-alive\r\n" : "Connection: close\r\n";
  bytes += "\r\n";
  bytes += body;
  HttpScriptedReply reply;
  reply.steps.push_back({0, std::move(bytes)});
  reply.keepOpen = keepAlive;
  return reply;
}

HttpScriptedReply RawReply(std::string bytes) {
  HttpScriptedReply reply;
  reply.steps.push_back({0, std::move(bytes)});
  return reply;
}

HttpScriptedReply Delayed(HttpScriptedReply reply, int delayMs) {
  reply.steps.insert(reply.steps.begin(), HttpReplyStep{delayMs, {}});
  return reply;
}

LoopbackHttpServer::LoopbackHttpServer(std::string address)
    : address_(std::move(address)), listener_(address_, 0), thread_([this] { Run(); }) {}

LoopbackHttpServer::~LoopbackHttpServer() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  stopSignal_.notify_all();
  thread_.join();
  workers_.JoinAll();
}

std::string LoopbackHttpServer::Url(std::string_view path) const {
  return "http://" + address_ + ":" + std::to_string(Port()) + std::string(path);
}

void LoopbackHttpServer::Enqueue(HttpScriptedReply reply) {
  std::lock_guard lock(mutex_);
  script_.push_back(std::move(reply));
}

void LoopbackHttpServer::SetFallbackReply(HttpScriptedReply reply) {
  std::lock_guard lock(mutex_);
  fallback_ = std::move(reply);
}

std::vector<std::string> LoopbackHttpServer::Requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

int LoopbackHttpServer::ConnectionCount() const {
  std::lock_guard lock(mutex_);
  return connections_;
}

bool LoopbackHttpServer::Pause(int delayMs) {
  std::unique_lock lock(mutex_);
  return !stopSignal_.wait_for(lock, std::chrono::milliseconds(delayMs),
                               [this] { return stopping_; });
}

void LoopbackHttpServer::Run() {
  while (Pause(0)) {
    auto connection = listener_.Accept(kSliceMs);
    if (!connection) continue;
    std::lock_guard lock(mutex_);
    ++connections_;
    // Beyond the limit a connection is closed unanswered.
    workers_.Start(
        kMaxConnections,
        [this, socket = std::make_shared<TcpSocket>(std::move(*connection))] { Serve(*socket); });
  }
}

void LoopbackHttpServer::Serve(TcpSocket& connection) {
  std::string pending;
  for (;;) {
    std::string request = ReadRequest(connection, pending);
    if (request.empty()) return;
    HttpScriptedReply reply;
    {
      std::lock_guard lock(mutex_);
      requests_.push_back(std::move(request));
      reply = fallback_;
      if (!script_.empty()) {
        reply = std::move(script_.front());
        script_.pop_front();
      }
    }
    for (const auto& step : reply.steps) {
      if (step.delayMs > 0 && !Pause(step.delayMs)) return;
      std::string ignored;
      if (!step.bytes.empty() && !connection.SendAll(step.bytes, 5000, ignored)) return;
    }
    if (!reply.keepOpen) return;
  }
}

std::string LoopbackHttpServer::ReadRequest(TcpSocket& connection, std::string& pending) {
  std::array<char, 16384> buffer;
  int idleMs = 0;
  for (;;) {
    const std::size_t headEnd = pending.find("\r\n\r\n");
    if (headEnd != std::string::npos) {
      const std::size_t total = headEnd + 4 + ContentLength(pending.substr(0, headEnd + 2));
      if (pending.size() >= total) {
        std::string request = pending.substr(0, total);
        pending.erase(0, total);
        return request;
      }
    }
    if (pending.size() > kMaxRequestBytes || idleMs >= kIdleLimitMs || !Pause(0)) return {};
    if (connection.WaitReadable(kSliceMs) != WaitResult::kReady) {
      idleMs += kSliceMs;
      continue;
    }
    const long long got = connection.Recv(buffer.data(), buffer.size());
    if (got <= 0) return {};
    pending.append(buffer.data(), static_cast<std::size_t>(got));
    idleMs = 0;
  }
}

}  // namespace mvx::testing
