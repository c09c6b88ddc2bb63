#include <iconv.h>

#include <cerrno>

#include "common/ansi_codec.h"

namespace mvx {
namespace {

// One iconv descriptor per conversion, closed on every path.
class Iconv {
 public:
  Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Iconv() {
    if (ok()) iconv_close(cd_);
  }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t get() const { return cd_; }

 private:
  iconv_t cd_;
};

// Length of the UTF-8 sequence starting at text[i] that is skipped when it
// cannot be converted: one byte for an invalid lead, else the lead's length.
std::size_t SkipLength(std::string_view text, std::size_t i) {
  const auto lead = static_cast<unsigned char>(text[i]);
  const std::size_t length = lead >= 0xF0 && lead < 0xF8 ? 4
                             : lead >= 0xE0              ? 3
                             : lead >= 0xC2              ? 2
                                                         : 1;
  for (std::size_t k = 1; k < length; ++k) {
    if (i + k >= text.size() || (static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return k;
  }
  return length;
}

// A CP949 character is a lead byte 0x81-0xFE with a trail byte, or one byte.
std::size_t Cp949Length(std::string_view text, std::size_t i) {
  const auto lead = static_cast<unsigned char>(text[i]);
  if (lead < 0x81 || lead > 0xFE || i + 1 >= text.size()) return 1;
  const auto trail = static_cast<unsigned char>(text[i + 1]);
  const bool isTrail = (trail >= 0x41 && trail <= 0x5A) || (trail >= 0x61 && trail <= 0x7A) ||
                       (trail >= 0x81 && trail <= 0xFE);
  return isTrail ? 2 : 1;
}

std::string FromUtf8(std::string_view input, const char* to) {
  Iconv cd(to, "UTF-8");
  if (!cd.ok()) return std::string(input);
  std::string out;
  out.reserve(input.size() * 2);
  std::size_t i = 0;
  while (i < input.size()) {
    char buffer[256];
    char* inPtr = const_cast<char*>(input.data() + i);
    std::size_t inLeft = input.size() - i;
    char* outPtr = buffer;
    std::size_t outLeft = sizeof buffer;
    const std::size_t rc = iconv(cd.get(), &inPtr, &inLeft, &outPtr, &outLeft);
    const int err = errno;
    out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
    i = static_cast<std::size_t>(inPtr - input.data());
    if (rc != static_cast<std::size_t>(-1)) break;
    if (err == E2BIG) continue;
    // EILSEQ, EINVAL: one replacement character for the sequence, then go on.
    out.push_back('?');
    if (i < input.size()) i += SkipLength(input, i);
    iconv(cd.get(), nullptr, nullptr, nullptr, nullptr);
  }
  return out;
}

// One character at a time: glibc's CP949 decoder swallows an unmapped pair before it reports
// it, so a bad character could otherwise take the byte after it along.
std::string FromCp949(std::string_view input) {
  Iconv cd("UTF-8", "CP949");
  if (!cd.ok()) return std::string(input);
  std::string out;
  out.reserve(input.size() * 2);
  for (std::size_t i = 0; i < input.size();) {
    const std::size_t length = Cp949Length(input, i);
    if (static_cast<unsigned char>(input[i]) < 0x80) {
      out.push_back(input[i]);
    } else {
      char buffer[8];
      char* inPtr = const_cast<char*>(input.data() + i);
      std::size_t inLeft = length;
      char* outPtr = buffer;
      std::size_t outLeft = sizeof buffer;
      if (iconv(cd.get(), &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1) ||
          inLeft != 0) {
        out.push_back('?');
        iconv(cd.get(), nullptr, nullptr, nullptr, nullptr);
      } else {
        out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
      }
    }
    i += length;
  }
  return out;
}

bool IsAscii(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

}  // namespace

std::string ToAnsi(std::string_view utf8) {
  if (IsAscii(utf8)) return std::string(utf8);
  return FromUtf8(utf8, "CP949");
}

std::string ToCp949(std::string_view utf8) { return ToAnsi(utf8); }

std::string FromAnsi(std::string_view ansi) {
  if (IsAscii(ansi)) return std::string(ansi);
  return FromCp949(ansi);
}

}  // namespace mvx
