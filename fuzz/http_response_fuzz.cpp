// Drives the HTTP response reader with arbitrary bytes, split into pieces at
// positions taken from the input, as a hostile server would send them; the
// cookies of each answer go through the client's cookie store.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/text_util.h"
#include "vendorlink/cookie_jar.h"
#include "vendorlink/http_response_parser.h"

namespace {

class DiscardingHandler final : public mvx::HttpResponseHandler {
 public:
  void OnHeaders(const mvx::HttpResponseParser& parser) override {
    // Touch what the client reads after the headers.
    seen_ += static_cast<std::size_t>(parser.StatusCode()) + parser.Headers().size();
    if (parser.Header("Content-Length")) ++seen_;
    for (const auto& h : parser.Headers()) {
      if (mvx::EqualsNoCase(h.name, "Set-Cookie") || mvx::EqualsNoCase(h.name, "Set-Cookie2")) {
        cookies_.Accept("support.test", h.value);
      }
    }
    // Whatever the server sent, the Cookie header it comes back in stays one line.
    const std::string cookie = cookies_.CookieHeader("SUPPORT.TEST");
    if (cookie.find_first_of("\r\n") != std::string::npos) __builtin_trap();
  }
  void OnBody(std::string_view bytes) override { seen_ += bytes.size(); }

 private:
  std::size_t seen_ = 0;
  mvx::CookieJar cookies_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  // The first byte chooses the piece size (1 to 256 bytes), and whether the
  // peer closes after the last piece.
  const std::size_t piece = static_cast<std::size_t>(data[0] & 0x7F) * 2 + 1;
  const bool peerCloses = (data[0] & 0x80) != 0;
  std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);

  mvx::HttpParserLimits limits;
  limits.maxLineBytes = 512;
  limits.maxHeaderBytes = 4096;
  limits.maxHeaderCount = 20;
  mvx::HttpResponseParser parser(limits);
  DiscardingHandler handler;
  // Answers on one connection, one after another, like keep-alive.
  for (int answer = 0; answer < 4 && !input.empty(); ++answer) {
    std::size_t used = 0;
    while (used < input.size() && !parser.Complete() && !parser.Failed()) {
      std::string_view next = input.substr(used, piece);
      std::size_t taken = parser.Feed(next, handler);
      if (taken > next.size()) __builtin_trap();
      used += taken;
      if (taken < next.size()) break;
    }
    if (used >= input.size() && peerCloses) parser.FinishInput();
    if (!parser.Complete()) break;
    (void)parser.KeepAlive();
    input.remove_prefix(used);
    parser.Reset();
  }
  return 0;
}
