#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "support/temp_dir.h"
#include "vendorlink/pinger.h"

namespace mvx::testing {

// Answers pings only for the hosts a test names, so a host can be silent.
class FakePinger final : public Pinger {
 public:
  explicit FakePinger(std::set<std::string> answering = {}) : answering_(std::move(answering)) {}
  PingResult Ping(std::string_view host) override {
    pinged.emplace_back(host);
    if (answering_.count(std::string(host)) == 0) return {};
    const auto reported = reportedAddress.find(std::string(host));
    return {true, reported != reportedAddress.end() ? reported->second : std::string(host)};
  }
  void SetAnswering(std::set<std::string> answering) { answering_ = std::move(answering); }
  std::vector<std::string> pinged;
  // The address a ping reports for a host; the host itself when not listed.
  std::map<std::string, std::string> reportedAddress;

 private:
  std::set<std::string> answering_;
};

inline std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFileBytes(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace mvx::testing
