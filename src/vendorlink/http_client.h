#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>

#include "vendorlink/cookie_jar.h"
#include "vendorlink/host_resolver.h"
#include "vendorlink/http_form.h"
#include "vendorlink/http_response_parser.h"
#include "vendorlink/tcp_socket.h"

namespace mvx {

struct HttpClientOptions {
  // Port used when a URL names none; the support server listens on 80.
  std::uint16_t port = 80;
  int connectTimeoutMs = 3000;
  // Limit of every single wait for incoming data (and for room to send).
  int readTimeoutMs = 3000;
  // Whole-exchange limits, so a server trickling bytes can't hold a tick forever.
  int textExchangeLimitMs = 60'000;
  int streamExchangeLimitMs = 15 * 60'000;
  // Largest body a text request keeps in memory; downloads stream instead.
  std::size_t maxTextBodyBytes = 4 * 1024 * 1024;
  HttpParserLimits parserLimits;
  // Every wait ends within a slice once this is set (null: never); it must
  // outlive the client.
  const std::atomic<bool>* stop = nullptr;
  // Where host names are looked up; null: a lookup per request, bounded by
  // the connect timeout. It must outlive the client.
  HostResolver* resolver = nullptr;
};

// Where the body of a successful answer goes.
class HttpBodyTarget {
 public:
  virtual ~HttpBodyTarget() = default;
  // Once, with the headers of the 2xx answer, before any body byte; may throw
  // to refuse the answer.
  virtual void Begin(const HttpResponseParser&) {}
  virtual void Write(std::string_view bytes) = 0;
};

// The link module's HTTP client (IdHTTP1): plain HTTP/1.x with the request
// bytes in a fixed header order, cookies per host, no redirects. Every
// operation either returns the body of a 2xx answer or throws HttpError; the
// client stays usable after any failure. Bodies are bytes, never converted.
class HttpClient {
 public:
  explicit HttpClient(HttpClientOptions options = {});

  // POSTs the form as multipart/form-data (HTTP/1.0) and returns the body.
  std::string HttpPostForm(std::string_view url, const HttpForm& form);
  // GETs the URL (HTTP/1.1) and returns the body.
  std::string HttpGetText(std::string_view url);
  // GETs the URL and writes the body of a 2xx answer into `out` as it
  // arrives. A failure leaves in `out` whatever was written before it. A
  // stream that refuses a write throws std::runtime_error (not HttpError).
  void HttpGetToStream(std::string_view url, std::ostream& out);
  // GETs a file into `target` as it arrives. The answer counts only when its
  // body is framed by Content-Length or chunked coding (a body ended by the
  // close cannot be told from a cut one), not empty and at most
  // `maxBodyBytes`; otherwise HttpError, as soon as that is known.
  void HttpGetFile(std::string_view url, HttpBodyTarget& target, std::uint64_t maxBodyBytes);

 private:
  // Closes a connection the server kept alive.
  void Disconnect();
  void Exchange(std::string_view url, bool isPost, std::string_view postBody,
                HttpBodyTarget& target, int exchangeLimitMs);

  HttpClientOptions options_;
  HostResolver ownResolver_;
  // "application/json;charset=euc-kr" until the first POST, then the content
  // type of the latest POST.
  std::string contentType_;
  CookieJar cookies_;
  TcpSocket connection_;
  std::string connectedHost_;
  std::uint16_t connectedPort_ = 0;
};

}  // namespace mvx
