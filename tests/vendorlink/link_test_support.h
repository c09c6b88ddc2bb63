#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "vendorlink/pinger.h"

namespace mvx::testing {

// Answers pings only for the hosts a test names, so a host can be silent.
class FakePinger final : public Pinger {
 public:
  explicit FakePinger(std::set<std::string> answering = {}) : answering_(std::move(answering)) {}
  PingResult Ping(std::string_view host) override {
    pinged.emplace_back(host);
    if (answering_.count(std::string(host)) == 0) return {};
    return {true, std::string(host)};
  }
  void SetAnswering(std::set<std::string> answering) { answering_ = std::move(answering); }
  std::vector<std::string> pinged;

 private:
  std::set<std::string> answering_;
};

// A fresh folder under the system's temporary folder, removed afterwards.
class TempDir {
 public:
  TempDir() {
    std::random_device seed;
    path_ = std::filesystem::temp_directory_path() /
            ("mvx_vendorlink_" + std::to_string(seed()) + std::to_string(seed()));
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  // The folder with a trailing separator, as the text log expects it.
  std::string Dir() const { return path_.string() + "/"; }
  std::string File(std::string_view name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
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
