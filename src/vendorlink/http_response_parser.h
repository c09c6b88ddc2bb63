#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mvx {

class HttpResponseParser;

struct HttpHeader {
  std::string name;
  std::string value;
};

// Receives what the parser finds. Either call may throw to abandon the answer.
class HttpResponseHandler {
 public:
  virtual ~HttpResponseHandler() = default;
  // Once, when the headers of the final (non-1xx) answer are complete.
  virtual void OnHeaders(const HttpResponseParser& parser) = 0;
  // Body bytes in order, chunk framing removed.
  virtual void OnBody(std::string_view bytes) = 0;
};

// Bounds that keep a hostile server from growing memory without limit.
struct HttpParserLimits {
  std::size_t maxLineBytes = 8 * 1024;
  std::size_t maxHeaderBytes = 64 * 1024;  // all header and trailer lines of one exchange
  std::size_t maxHeaderCount = 100;
  int maxInterimAnswers = 8;
};

// Reads one HTTP/1.x answer from bytes as they arrive, with no socket of its
// own: status line, headers, interim 1xx answers (skipped), and a body framed
// by Content-Length, chunked coding or the end of the connection. Malformed or
// oversized input ends in Failed() with a reason, never in an unbounded buffer.
class HttpResponseParser {
 public:
  explicit HttpResponseParser(HttpParserLimits limits = {});

  // Starts over for the next answer.
  void Reset();
  // Takes bytes from the connection and returns how many belong to this
  // answer; fewer than given only once the answer is complete or failed.
  std::size_t Feed(std::string_view bytes, HttpResponseHandler& handler);
  // The peer closed the connection: ends a close-delimited body, or fails.
  void FinishInput();

  bool Complete() const { return state_ == State::kComplete; }
  bool Failed() const { return state_ == State::kFailed; }
  // True once any byte of an answer arrived.
  bool Started() const { return bytesSeen_ > 0; }
  const std::string& Error() const { return error_; }

  int StatusCode() const { return status_; }
  // The status line with anything unprintable replaced, for messages.
  const std::string& StatusLine() const { return statusLine_; }
  const std::vector<HttpHeader>& Headers() const { return headers_; }
  // Value of the first header of that name (case-insensitive).
  std::optional<std::string_view> Header(std::string_view name) const;
  // The connection may carry another request after this answer.
  bool KeepAlive() const;
  // Once the headers are read: whether the body's end is marked (Content-Length
  // or chunked coding) rather than taken from the connection's close, and the
  // Content-Length when that frames it.
  bool BodyFramed() const { return framing_ == Framing::kLength || framing_ == Framing::kChunked; }
  std::optional<std::uint64_t> DeclaredLength() const {
    if (framing_ != Framing::kLength) return std::nullopt;
    return declaredLength_;
  }

 private:
  enum class State {
    kStatusLine,
    kHeaderLines,
    kFixedBody,
    kChunkSize,
    kChunkData,
    kChunkDataEnd,
    kTrailer,
    kBodyUntilClose,
    kComplete,
    kFailed,
  };
  enum class Framing { kNone, kLength, kChunked, kUntilClose };

  bool InLineState() const;
  void HandleLine(std::string_view line, HttpResponseHandler& handler);
  void ParseStatusLine(std::string_view line);
  void ParseHeaderLine(std::string_view line);
  void EndOfHeaders(HttpResponseHandler& handler);
  void ParseChunkSize(std::string_view line);
  bool HasToken(std::string_view headerName, std::string_view token) const;
  void Fail(std::string reason);

  HttpParserLimits limits_;
  State state_ = State::kStatusLine;
  Framing framing_ = Framing::kNone;
  std::string line_;
  std::size_t headerBytes_ = 0;
  std::uint64_t bytesSeen_ = 0;
  std::uint64_t remaining_ = 0;
  std::uint64_t declaredLength_ = 0;
  bool keepAlive_ = false;
  int minorVersion_ = 0;
  int status_ = 0;
  int interimAnswers_ = 0;
  std::string statusLine_;
  std::vector<HttpHeader> headers_;
  std::string error_;
};

}  // namespace mvx
