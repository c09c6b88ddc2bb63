#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <string_view>

namespace mvx {

struct PingResult {
  bool answered = false;
  std::string address;  // dotted IPv4 address of the host that was pinged
};

// One ICMP echo to a dotted address (the link module resolves names first);
// separate so that tests can make a host silent.
class Pinger {
 public:
  virtual ~Pinger() = default;
  virtual PingResult Ping(std::string_view address) = 0;
};

// The echo as the link module sends it: 56 data bytes, time to live 64, and
// exactly one reply within the timeout.
class IcmpPinger final : public Pinger {
 public:
  static constexpr int kDataBytes = 56;
  static constexpr int kTimeToLive = 64;

  // Throws std::runtime_error when the system's echo facility can't be opened.
  // A wait for the reply ends within a slice once `stop` is set; the flag
  // must outlive the pinger.
  explicit IcmpPinger(int timeoutMs = 3000, const std::atomic<bool>* stop = nullptr);
  ~IcmpPinger() override;
  IcmpPinger(const IcmpPinger&) = delete;
  IcmpPinger& operator=(const IcmpPinger&) = delete;

  // Anything but a dotted address is not answered: names are never looked up here.
  PingResult Ping(std::string_view address) override;

  // How the echo goes out ("datagram", "raw" or "IcmpSendEcho").
  std::string Method() const;

 private:
  struct Impl;
  std::shared_ptr<Impl> impl_;
  int timeoutMs_;
  const std::atomic<bool>* stop_;
};

}  // namespace mvx
