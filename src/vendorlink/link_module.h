#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "common/clock.h"
#include "common/report_sink.h"
#include "common/text_log.h"
#include "vendorlink/host_resolver.h"
#include "vendorlink/http_client.h"
#include "vendorlink/link_endpoints.h"
#include "vendorlink/pinger.h"

namespace mvx {

// Statuses of SocketExchange and SocketSend.
inline constexpr int kSocketDone = 0;
inline constexpr int kSocketNoConnection = -1;
inline constexpr int kSocketNoReply = -2;

struct SocketExchangeResult {
  int status = kSocketNoConnection;
  std::string reply;  // only with kSocketDone
};

// A line that could not be written within the socket's wait limit.
class SocketWriteError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// What a download may hold: far above the companion program and the driver library; a server
// that sends more is not sending either of them.
inline constexpr std::uint64_t kMaxDownloadBytes = 256ULL * 1024 * 1024;

// The link module: the support-server link's state and every exchange with
// the support server (host selection and ping, socket transport, HTTP client,
// event reports, downloads). One instance lives for the whole process; its
// operations run one at a time (service start or timer tick). Once `stop`
// (the service's stop flag) is set, every wait of an operation ends within a
// slice and the operation fails as on a silent host.
class TdMFunc final : public ReportSink {
 public:
  // Opens its own ICMP echo (Ping1); throws std::runtime_error when the
  // system's echo facility can't be opened.
  TdMFunc(const Clock& clock, TextLog& log, LinkEndpoints endpoints = DefaultLinkEndpoints(),
          const std::atomic<bool>* stop = nullptr);
  // Pings through `pinger`, which must outlive the module.
  TdMFunc(const Clock& clock, TextLog& log, LinkEndpoints endpoints, Pinger& pinger,
          const std::atomic<bool>* stop = nullptr);

  TdMFunc(const TdMFunc&) = delete;
  TdMFunc& operator=(const TdMFunc&) = delete;

  // "1" socket, "2" HTTP, anything else: socket check and HTTP reports.
  // Set by the service at its start and at every tick, before CheckLink.
  const std::string& TransportMode() const { return transportMode_; }
  void SetTransportMode(std::string_view mode) { transportMode_ = std::string(mode); }
  // Dotted address of the support host the socket transport talks to.
  const std::string& CurrentHostAddress() const { return currentHostAddress_; }
  // Outcome of the latest CheckLink or of a report's ping.
  bool LinkFlag() const { return linkFlag_; }

  // Dotted address of the first support host that answers a ping, or empty.
  std::string SelectSupportHost();
  // Pings primary, then secondary; on an answer sets CurrentHostAddress.
  bool PingSupportHost();
  // True when GET /isValidServer.php on the primary host answers exactly "1".
  bool CheckValidServer();
  // Handshake "012PNG*013PNG" on the port of CurrentHostAddress.
  bool ProbeSocketLink(std::uint16_t port);
  // Checks the link the transport mode asks for and stores the result in LinkFlag.
  bool CheckLink();
  // Sends the message and CR LF (ANSI) to CurrentHostAddress and reads one reply.
  // Throws SocketWriteError when the line can't be written in time.
  SocketExchangeResult SocketExchange(std::string_view message, std::uint16_t port);
  // Sends the message and CR LF (ANSI) without waiting for a reply.
  // Throws SocketWriteError when the line can't be written in time.
  int SocketSend(std::string_view message, std::uint16_t port);

  // Reports an event to the support server. Never throws: a transport
  // failure is written once to the text log and the caller's work goes on.
  void SendReport(std::string_view kind, std::string_view installationId, std::string_view database,
                  std::string_view eventCode, std::string_view computerName) override;

  // Fetches the URL into a temporary file beside `path` and renames it over
  // `path` once complete. False when the fetch fails (the file at `path` is
  // then untouched); throws std::runtime_error when the local file can't be
  // written or replaced. `path` is UTF-8.
  bool DownloadFile(std::string_view url, const std::string& path);

  // Whether the service's stop flag is set.
  bool StopRequested() const { return stop_ != nullptr && stop_->load(); }

  // "http://" primary host and the path: where HTTP requests go.
  std::string SupportUrl(std::string_view path) const;

  // Tests stand in for a slow name service; the lookup runs on helper
  // threads that may outlive the module, so it must own what it uses.
  void SetNameLookup(NameLookup lookup);

 private:
  // Names are looked up once per outermost operation.
  class Operation;
  void RecordReportFailure(std::string_view reason) noexcept;

  const Clock& clock_;
  TextLog& log_;
  LinkEndpoints endpoints_;
  const std::atomic<bool>* stop_;
  HostResolver resolver_;
  int operationDepth_ = 0;
  std::unique_ptr<Pinger> ownPinger_;
  Pinger& ping1_;
  HttpClient idHttp1_;
  std::string transportMode_;
  std::string currentHostAddress_;
  bool linkFlag_ = false;
};

}  // namespace mvx
