#include "vendorlink/http_response_parser.h"

#include <algorithm>

#include "common/text_util.h"

namespace mvx {

namespace {

// A Content-Length or chunk size beyond this is treated as hostile.
constexpr std::uint64_t kMaxBodyLength = 1ULL << 60;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsTokenChar(char c) {
  auto b = static_cast<unsigned char>(c);
  if (b <= 32 || b >= 127) return false;
  return std::string_view("()<>@,;:\\\"/[]?={}").find(c) == std::string_view::npos;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Whole-text decimal without sign; false when not one or too large.
bool ParseLength(std::string_view text, std::uint64_t& out) {
  text = TrimSpacesAndTabs(text);
  if (text.empty() || text.size() > 18) return false;
  std::uint64_t value = 0;
  for (char c : text) {
    if (!IsDigit(c)) return false;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  if (value > kMaxBodyLength) return false;
  out = value;
  return true;
}

std::string Printable(std::string_view text) {
  std::string out(text.substr(0, 200));
  for (char& c : out) {
    auto b = static_cast<unsigned char>(c);
    if (b < 32 || b == 127) c = '?';
  }
  return out;
}

// Calls f for each comma-separated element of a header value, trimmed.
template <typename F>
void ForEachElement(std::string_view value, F f) {
  while (true) {
    std::size_t comma = value.find(',');
    std::string_view element = TrimSpacesAndTabs(value.substr(0, comma));
    if (!element.empty()) f(element);
    if (comma == std::string_view::npos) break;
    value.remove_prefix(comma + 1);
  }
}

}  // namespace

HttpResponseParser::HttpResponseParser(HttpParserLimits limits) : limits_(limits) {}

void HttpResponseParser::Reset() { *this = HttpResponseParser(limits_); }

bool HttpResponseParser::InLineState() const {
  return state_ == State::kStatusLine || state_ == State::kHeaderLines ||
         state_ == State::kChunkSize || state_ == State::kChunkDataEnd || state_ == State::kTrailer;
}

void HttpResponseParser::Fail(std::string reason) {
  if (state_ == State::kFailed) return;
  state_ = State::kFailed;
  error_ = std::move(reason);
  line_.clear();
}

std::size_t HttpResponseParser::Feed(std::string_view bytes, HttpResponseHandler& handler) {
  std::size_t pos = 0;
  while (pos < bytes.size() && state_ != State::kComplete && state_ != State::kFailed) {
    const std::size_t available = bytes.size() - pos;
    if (InLineState()) {
      const std::size_t newline = bytes.find('\n', pos);
      const std::size_t take = newline == std::string_view::npos ? available : newline + 1 - pos;
      const bool headerPart = state_ == State::kStatusLine || state_ == State::kHeaderLines ||
                              state_ == State::kTrailer;
      if (line_.size() + take > limits_.maxLineBytes + 2) {
        Fail(state_ == State::kStatusLine ? "Status line too long" : "Header line too long");
        break;
      }
      if (headerPart) {
        headerBytes_ += take;
        if (headerBytes_ > limits_.maxHeaderBytes) {
          Fail("Response header too large");
          break;
        }
      }
      line_.append(bytes.substr(pos, take));
      pos += take;
      bytesSeen_ += take;
      if (newline == std::string_view::npos) break;
      std::string_view line(line_);
      line.remove_suffix(1);
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      std::string owned(line);
      line_.clear();
      HandleLine(owned, handler);
      continue;
    }
    if (state_ == State::kBodyUntilClose) {
      bytesSeen_ += available;
      pos += available;
      handler.OnBody(bytes.substr(pos - available, available));
      continue;
    }
    // kFixedBody or kChunkData: remaining_ bytes still belong to the body.
    const std::size_t take =
        static_cast<std::size_t>(std::min<std::uint64_t>(remaining_, available));
    std::string_view piece = bytes.substr(pos, take);
    pos += take;
    bytesSeen_ += take;
    remaining_ -= take;
    if (remaining_ == 0) {
      state_ = state_ == State::kFixedBody ? State::kComplete : State::kChunkDataEnd;
    }
    handler.OnBody(piece);
  }
  return pos;
}

void HttpResponseParser::FinishInput() {
  switch (state_) {
    case State::kBodyUntilClose:
      state_ = State::kComplete;
      break;
    case State::kComplete:
    case State::kFailed:
      break;
    default:
      Fail(bytesSeen_ == 0 ? "Connection closed without a response"
                           : "Connection closed before the response was complete");
  }
}

void HttpResponseParser::HandleLine(std::string_view line, HttpResponseHandler& handler) {
  switch (state_) {
    case State::kStatusLine:
      // Stray empty lines before an answer are tolerated (bounded by the header budget).
      if (!line.empty()) ParseStatusLine(line);
      break;
    case State::kHeaderLines:
      if (line.empty()) {
        EndOfHeaders(handler);
      } else {
        ParseHeaderLine(line);
      }
      break;
    case State::kChunkSize:
      ParseChunkSize(line);
      break;
    case State::kChunkDataEnd:
      if (!line.empty()) {
        Fail("Chunk data longer than its size");
      } else {
        state_ = State::kChunkSize;
      }
      break;
    case State::kTrailer:
      if (line.empty()) state_ = State::kComplete;
      break;
    default:
      break;
  }
}

void HttpResponseParser::ParseStatusLine(std::string_view line) {
  // HTTP/1.x SP three digits [SP reason]
  constexpr std::string_view kPrefix = "HTTP/1.";
  if (line.size() < 12 || line.substr(0, kPrefix.size()) != kPrefix || !IsDigit(line[7]) ||
      line[8] != ' ') {
    Fail("Malformed status line: " + Printable(line));
    return;
  }
  std::string_view rest = line.substr(9);
  while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
  if (rest.size() < 3 || !IsDigit(rest[0]) || !IsDigit(rest[1]) || !IsDigit(rest[2]) ||
      rest[0] == '0' || (rest.size() > 3 && rest[3] != ' ')) {
    Fail("Malformed status line: " + Printable(line));
    return;
  }
  minorVersion_ = line[7] - '0';
  status_ = (rest[0] - '0') * 100 + (rest[1] - '0') * 10 + (rest[2] - '0');
  statusLine_ = Printable(line);
  headers_.clear();
  state_ = State::kHeaderLines;
}

void HttpResponseParser::ParseHeaderLine(std::string_view line) {
  if (line.front() == ' ' || line.front() == '\t') {
    // A folded continuation of the previous header.
    if (headers_.empty()) {
      Fail("Malformed header line");
      return;
    }
    headers_.back().value += ' ';
    headers_.back().value += TrimSpacesAndTabs(line);
    return;
  }
  const std::size_t colon = line.find(':');
  if (colon == std::string_view::npos || colon == 0) {
    Fail("Malformed header line");
    return;
  }
  std::string_view name = line.substr(0, colon);
  if (!std::all_of(name.begin(), name.end(), IsTokenChar)) {
    Fail("Malformed header line");
    return;
  }
  if (headers_.size() >= limits_.maxHeaderCount) {
    Fail("Too many header lines");
    return;
  }
  headers_.push_back({std::string(name), std::string(TrimSpacesAndTabs(line.substr(colon + 1)))});
}

std::optional<std::string_view> HttpResponseParser::Header(std::string_view name) const {
  for (const auto& h : headers_) {
    if (EqualsNoCase(h.name, name)) return std::string_view(h.value);
  }
  return std::nullopt;
}

bool HttpResponseParser::HasToken(std::string_view headerName, std::string_view token) const {
  bool found = false;
  for (const auto& h : headers_) {
    if (!EqualsNoCase(h.name, headerName)) continue;
    ForEachElement(h.value, [&](std::string_view e) { found = found || EqualsNoCase(e, token); });
  }
  return found;
}

void HttpResponseParser::EndOfHeaders(HttpResponseHandler& handler) {
  if (status_ >= 100 && status_ < 200 && status_ != 101) {
    if (++interimAnswers_ > limits_.maxInterimAnswers) {
      Fail("Too many interim answers");
      return;
    }
    headers_.clear();
    status_ = 0;
    statusLine_.clear();
    state_ = State::kStatusLine;
    return;
  }

  bool hasTransferCoding = false;
  bool chunkedLast = false;
  bool hasLength = false;
  bool lengthValid = true;
  std::uint64_t length = 0;
  for (const auto& h : headers_) {
    if (EqualsNoCase(h.name, "Transfer-Encoding")) {
      ForEachElement(h.value, [&](std::string_view e) {
        hasTransferCoding = true;
        chunkedLast = EqualsNoCase(e, "chunked");
      });
    } else if (EqualsNoCase(h.name, "Content-Length")) {
      bool any = false;
      ForEachElement(h.value, [&](std::string_view e) {
        any = true;
        std::uint64_t value = 0;
        if (!ParseLength(e, value) || (hasLength && value != length)) {
          lengthValid = false;
          return;
        }
        hasLength = true;
        length = value;
      });
      if (!any) lengthValid = false;
    }
  }

  keepAlive_ =
      minorVersion_ >= 1 ? !HasToken("Connection", "close") : HasToken("Connection", "keep-alive");
  if (status_ == 204 || status_ == 304 || status_ < 200) {
    framing_ = Framing::kNone;
    if (status_ < 200) keepAlive_ = false;
  } else if (hasTransferCoding) {
    // A Transfer-Encoding overrides any Content-Length; such an answer is
    // suspicious enough that the connection is not used again.
    framing_ = chunkedLast ? Framing::kChunked : Framing::kUntilClose;
    if (hasLength || !chunkedLast) keepAlive_ = false;
  } else if (hasLength || !lengthValid) {
    if (!lengthValid) {
      Fail("Invalid Content-Length");
      return;
    }
    framing_ = Framing::kLength;
  } else {
    framing_ = Framing::kUntilClose;
    keepAlive_ = false;
  }

  switch (framing_) {
    case Framing::kNone:
      state_ = State::kComplete;
      break;
    case Framing::kLength:
      remaining_ = declaredLength_ = length;
      state_ = length == 0 ? State::kComplete : State::kFixedBody;
      break;
    case Framing::kChunked:
      state_ = State::kChunkSize;
      break;
    case Framing::kUntilClose:
      state_ = State::kBodyUntilClose;
      break;
  }
  handler.OnHeaders(*this);
}

void HttpResponseParser::ParseChunkSize(std::string_view line) {
  std::string_view digits = TrimSpacesAndTabs(line.substr(0, line.find(';')));
  if (digits.empty() || digits.size() > 15) {
    Fail(digits.empty() ? "Malformed chunk size" : "Chunk size too large");
    return;
  }
  std::uint64_t size = 0;
  for (char c : digits) {
    int v = HexValue(c);
    if (v < 0) {
      Fail("Malformed chunk size");
      return;
    }
    size = size * 16 + static_cast<std::uint64_t>(v);
  }
  if (size > kMaxBodyLength) {
    Fail("Chunk size too large");
    return;
  }
  if (size == 0) {
    state_ = State::kTrailer;
  } else {
    remaining_ = size;
    state_ = State::kChunkData;
  }
}

bool HttpResponseParser::KeepAlive() const {
  return state_ == State::kComplete && keepAlive_ && framing_ != Framing::kUntilClose;
}

}  // namespace mvx
