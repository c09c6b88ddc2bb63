// Drives the HTTP response reader with arbitrary bytes, split into pieces at
// positions taken from the input, as a hostile server would send them.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "vendorlink/http_response_parser.h"

namespace {

class DiscardingHandler final : public mvx::HttpResponseHandler {
 public:
  void OnHeaders(const mvx::HttpResponseParser& parser) override {
    // Touch what the client reads after the headers.
    seen_ += static_cast<std::size_t>(parser.StatusCode()) + parser.Headers().size();
    if (parser.Header("Content-Length")) ++seen_;
  }
  void OnBody(std::string_view bytes) override { seen_ += bytes.size(); }

 private:
  std::size_t seen_ = 0;
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
