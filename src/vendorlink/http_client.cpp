#include "vendorlink/http_client.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <optional>
#include <ostream>
#include <stdexcept>

#include "common/text_util.h"
#include "vendorlink/http_error.h"
#include "vendorlink/http_request.h"
#include "vendorlink/http_url.h"
#include "vendorlink/stop_slices.h"

namespace mvx {

namespace {

using SteadyClock = std::chrono::steady_clock;

// Keeps the start of a failed answer's body for the error.
constexpr std::size_t kMaxErrorTextBytes = 64 * 1024;

class TextTarget final : public HttpBodyTarget {
 public:
  explicit TextTarget(std::size_t limit) : limit_(limit) {}
  void Write(std::string_view bytes) override {
    if (bytes.size() > limit_ - body_.size()) throw HttpError(0, "Response body too large");
    body_.append(bytes);
  }
  std::string Take() { return std::move(body_); }

 private:
  std::size_t limit_;
  std::string body_;
};

class StreamTarget final : public HttpBodyTarget {
 public:
  explicit StreamTarget(std::ostream& out) : out_(out) {}
  void Write(std::string_view bytes) override {
    out_.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out_) throw std::runtime_error("Unable to write the downloaded data");
  }

 private:
  std::ostream& out_;
};

// A file's body, passed on while it keeps within its bounds.
class FileTarget final : public HttpBodyTarget {
 public:
  FileTarget(HttpBodyTarget& out, std::uint64_t limit) : out_(out), limit_(limit) {}
  void Begin(const HttpResponseParser& parser) override {
    if (!parser.BodyFramed()) throw HttpError(0, "Body without a length or chunks");
    const std::optional<std::uint64_t> length = parser.DeclaredLength();
    if (length && *length > limit_) throw HttpError(0, "Body too large");
    out_.Begin(parser);
  }
  void Write(std::string_view bytes) override {
    if (bytes.size() > limit_ - received_) throw HttpError(0, "Body too large");
    received_ += bytes.size();
    out_.Write(bytes);
  }
  std::uint64_t Received() const { return received_; }

 private:
  HttpBodyTarget& out_;
  std::uint64_t limit_;
  std::uint64_t received_ = 0;
};

// Stores the answer's cookies and sends the body of a 2xx answer to its
// target, any other body to the error text.
class ResponseRouter final : public HttpResponseHandler {
 public:
  ResponseRouter(CookieJar& cookies, std::string_view host, HttpBodyTarget& target)
      : cookies_(cookies), host_(host), target_(target) {}

  void OnHeaders(const HttpResponseParser& parser) override {
    for (const auto& h : parser.Headers()) {
      if (EqualsNoCase(h.name, "Set-Cookie") || EqualsNoCase(h.name, "Set-Cookie2")) {
        cookies_.Accept(host_, h.value);
      }
    }
    success_ = parser.StatusCode() >= 200 && parser.StatusCode() <= 299;
    if (success_) target_.Begin(parser);
  }

  void OnBody(std::string_view bytes) override {
    if (success_) {
      target_.Write(bytes);
    } else if (errorText_.size() < kMaxErrorTextBytes) {
      errorText_.append(bytes.substr(0, kMaxErrorTextBytes - errorText_.size()));
    }
  }

  std::string TakeErrorText() { return std::move(errorText_); }

 private:
  CookieJar& cookies_;
  std::string_view host_;
  HttpBodyTarget& target_;
  bool success_ = false;
  std::string errorText_;
};

int RemainingMs(SteadyClock::time_point deadline) {
  auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
  return left > 0 ? static_cast<int>(std::min<long long>(left, 1'000'000'000)) : 0;
}

}  // namespace

HttpClient::HttpClient(HttpClientOptions options)
    : options_(options),
      ownResolver_(options.connectTimeoutMs, options.stop),
      contentType_(kInitialContentType) {
  connection_.StopOn(options_.stop);
}

void HttpClient::Disconnect() {
  connection_.Close();
  connectedHost_.clear();
  connectedPort_ = 0;
}

std::string HttpClient::HttpPostForm(std::string_view url, const HttpForm& form) {
  contentType_ = form.ContentType();
  TextTarget target(options_.maxTextBodyBytes);
  Exchange(url, true, form.Body(), target, options_.textExchangeLimitMs);
  return target.Take();
}

std::string HttpClient::HttpGetText(std::string_view url) {
  TextTarget target(options_.maxTextBodyBytes);
  Exchange(url, false, {}, target, options_.textExchangeLimitMs);
  return target.Take();
}

void HttpClient::HttpGetToStream(std::string_view url, std::ostream& out) {
  StreamTarget target(out);
  Exchange(url, false, {}, target, options_.streamExchangeLimitMs);
}

void HttpClient::HttpGetFile(std::string_view url, HttpBodyTarget& target,
                             std::uint64_t maxBodyBytes) {
  FileTarget file(target, maxBodyBytes);
  Exchange(url, false, {}, file, options_.streamExchangeLimitMs);
  if (file.Received() == 0) throw HttpError(0, "Empty body");
}

void HttpClient::Exchange(std::string_view url, bool isPost, std::string_view postBody,
                          HttpBodyTarget& target, int exchangeLimitMs) {
  const auto parsed = ParseHttpUrl(url);
  if (!parsed) throw HttpError(0, "Invalid URL: " + std::string(url.substr(0, 200)));
  const std::uint16_t port = parsed->port.value_or(options_.port);
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(exchangeLimitMs);

  // Whatever goes wrong below, a half-used connection is never used again.
  struct CloseOnFailure {
    HttpClient& client;
    bool armed = true;
    ~CloseOnFailure() {
      if (armed) client.Disconnect();
    }
  } guard{*this};

  // A POST always opens a new connection; a GET reuses one the server kept
  // alive, and opens a fresh one once if the kept one turns out to be dead.
  if (isPost) Disconnect();
  for (int attempt = 0; attempt < 2; ++attempt) {
    // An idle kept connection that is readable has been closed or sent junk.
    const bool reused = connection_.IsOpen() && connectedHost_ == parsed->host &&
                        connectedPort_ == port &&
                        connection_.WaitReadable(0) == WaitResult::kTimeout;
    if (!reused) {
      Disconnect();
      HostResolver& resolver = options_.resolver != nullptr ? *options_.resolver : ownResolver_;
      if (options_.resolver == nullptr) resolver.Forget();
      const std::string address = resolver.Resolve(parsed->host);
      if (StopRequested(options_.stop)) throw HttpError(0, "Stopped");
      if (address.empty()) throw HttpError(0, "Host not found: " + parsed->host.substr(0, 200));
      std::string error;
      if (!connection_.Connect(address, port, options_.connectTimeoutMs, error)) {
        throw HttpError(0, error);
      }
      connectedHost_ = parsed->host;
      connectedPort_ = port;
    }
    const std::string cookie = cookies_.CookieHeader(parsed->host);
    const std::string request =
        isPost ? BuildPostRequest(parsed->path, parsed->host, contentType_, postBody, cookie)
               : BuildGetRequest(parsed->path, parsed->host, contentType_, cookie);
    std::string error;
    if (!connection_.SendAll(request, options_.readTimeoutMs, error)) {
      if (reused) {
        Disconnect();
        continue;
      }
      throw HttpError(0, error);
    }

    HttpResponseParser parser(options_.parserLimits);
    ResponseRouter router(cookies_, parsed->host, target);
    std::array<char, 16 * 1024> buffer;
    bool leftover = false;
    bool stale = false;
    while (!parser.Complete() && !parser.Failed()) {
      const int left = RemainingMs(deadline);
      if (left == 0) throw HttpError(0, "Exchange time limit exceeded");
      const int wait = std::min(options_.readTimeoutMs, left);
      const WaitResult waited = connection_.WaitReadable(wait);
      if (waited == WaitResult::kTimeout) {
        throw HttpError(
            0, wait < options_.readTimeoutMs ? "Exchange time limit exceeded" : "Read timed out");
      }
      if (waited == WaitResult::kStopped) throw HttpError(0, "Stopped");
      if (waited == WaitResult::kError) throw HttpError(0, "Read failed");
      const long long got = connection_.Recv(buffer.data(), buffer.size());
      if (got <= 0 && reused && !parser.Started()) {
        stale = true;
        break;
      }
      if (got < 0) throw HttpError(0, "Connection reset by the server");
      if (got == 0) {
        parser.FinishInput();
        break;
      }
      const std::string_view bytes(buffer.data(), static_cast<std::size_t>(got));
      if (parser.Feed(bytes, router) < bytes.size()) leftover = true;
    }
    if (stale) {
      Disconnect();
      continue;
    }
    if (parser.Failed()) throw HttpError(0, parser.Error());

    guard.armed = false;
    if (!parser.KeepAlive() || leftover) Disconnect();
    const int status = parser.StatusCode();
    if (status < 200 || status > 299) {
      throw HttpError(status, parser.StatusLine(), router.TakeErrorText());
    }
    return;
  }
  throw HttpError(0, "Connection closed by the server");
}

}  // namespace mvx
