#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace mvx {

struct PingResult {
  bool answered = false;
  std::string address;  // dotted IPv4 address of the host that was pinged
};

// One ICMP echo to a host; separate so that tests can make a host silent.
class Pinger {
 public:
  virtual ~Pinger() = default;
  virtual PingResult Ping(std::string_view host) = 0;
};

// The echo as the link module sends it: 56 data bytes, time to live 64, and
// exactly one reply within the timeout.
class IcmpPinger final : public Pinger {
 public:
  static constexpr int kDataBytes = 56;
  static constexpr int kTimeToLive = 64;

  // Throws std::runtime_error when the system's echo facility can't be opened.
  explicit IcmpPinger(int timeoutMs = 3000);
  ~IcmpPinger() override;
  IcmpPinger(const IcmpPinger&) = delete;
  IcmpPinger& operator=(const IcmpPinger&) = delete;

  PingResult Ping(std::string_view host) override;

  // How the echo goes out ("datagram", "raw" or "IcmpSendEcho").
  std::string Method() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  int timeoutMs_;
};

}  // namespace mvx
