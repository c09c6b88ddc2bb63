// The support server for the Wine stage, run as a native process: serves the
// files of a folder over HTTP by their last path segment (404 otherwise),
// answers every form post with 200, and answers the line port's handshake.
// HTTP_PORT 0 takes a free port. Prints "ready <http port>" once both ports
// listen, then one line per request; ends on SIGTERM.
//   MvxTestSupportServer ADDRESS HTTP_PORT LINE_PORT FOLDER
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

#include "support/http/line_server.h"
#include "support/http/tcp_listener.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;

std::string ReadHead(mvx::TcpSocket& connection) {
  std::string request;
  char buffer[4096];
  // A request head arrives within a few seconds or not at all.
  for (int waits = 0; waits < 50 && request.find("\r\n\r\n") == std::string::npos; ++waits) {
    if (connection.WaitReadable(100) != mvx::WaitResult::kReady) continue;
    const long long got = connection.Recv(buffer, sizeof buffer);
    if (got <= 0) break;
    request.append(buffer, static_cast<std::size_t>(got));
    if (request.size() > 65536) break;
  }
  return request;
}

std::string Answer(const std::string& head, const std::filesystem::path& folder) {
  const std::size_t space = head.find(' ');
  const std::size_t end = head.find(' ', space + 1);
  if (space == std::string::npos || end == std::string::npos) return {};
  const std::string method = head.substr(0, space);
  const std::string target = head.substr(space + 1, end - space - 1);
  std::string body;
  int status = 200;
  if (method == "GET") {
    const std::string name = target.substr(target.find_last_of('/') + 1);
    std::ifstream in(folder / name, std::ios::binary);
    if (name.empty() || !in) {
      status = 404;
    } else {
      body.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
  }
  std::cout << method << " " << target << " " << status << std::endl;
  return "HTTP/1.1 " + std::to_string(status) + (status == 200 ? " OK" : " Not Found") +
         "\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" +
         body;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::cerr << "usage: MvxTestSupportServer ADDRESS HTTP_PORT LINE_PORT FOLDER\n";
    return 2;
  }
  std::signal(SIGTERM, [](int) { g_stop = 1; });
  std::signal(SIGINT, [](int) { g_stop = 1; });
  std::signal(SIGPIPE, SIG_IGN);
  const std::filesystem::path folder = argv[4];
  try {
    mvx::testing::TcpListener http(argv[1], static_cast<std::uint16_t>(std::atoi(argv[2])));
    mvx::testing::LineServer line(argv[1], static_cast<std::uint16_t>(std::atoi(argv[3])));
    line.SetAnswer(mvx::testing::LineServer::Answer::kReply, "012PNG1013PNG");
    std::cout << "ready " << http.Port() << std::endl;
    while (!g_stop) {
      auto connection = http.Accept(200);
      if (!connection) continue;
      const std::string reply = Answer(ReadHead(*connection), folder);
      std::string error;
      if (!reply.empty()) connection->SendAll(reply, 5000, error);
    }
  } catch (const std::exception& e) {
    std::cerr << e.what() << std::endl;
    return 1;
  }
  return 0;
}
