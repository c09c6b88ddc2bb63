#include "support/sql/tds_wire.h"

#include <algorithm>
#include <array>
#include <charconv>

namespace mvx::testing::tds {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

constexpr std::uint8_t kTokenColMetadata = 0x81;
constexpr std::uint8_t kTokenError = 0xAA;
constexpr std::uint8_t kTokenInfo = 0xAB;
constexpr std::uint8_t kTokenLoginAck = 0xAD;
constexpr std::uint8_t kTokenReturnStatus = 0x79;
constexpr std::uint8_t kTokenRow = 0xD1;
constexpr std::uint8_t kTokenEnvChange = 0xE3;
constexpr std::uint8_t kTokenDone = 0xFD;
constexpr std::uint8_t kTokenDoneProc = 0xFE;
constexpr std::uint8_t kTokenDoneInProc = 0xFF;

constexpr std::uint8_t kTypeIntN = 0x26;
constexpr std::uint8_t kTypeNVarChar = 0xE7;
constexpr std::uint8_t kTypeBigVarChar = 0xA7;
constexpr std::size_t kVarCharMaxBytes = 8000;
constexpr std::uint16_t kNVarCharMaxBytes = 8000;
constexpr std::uint16_t kNVarCharMaxMarker = 0xFFFF;
constexpr std::uint64_t kPlpNull = ~std::uint64_t{0};

// Bounds-checked little-endian reads over a received payload.
class Reader {
 public:
  explicit Reader(std::span<const std::uint8_t> data) : data_(data) {}

  std::uint8_t u8(std::size_t at) const { return need(at, 1)[0]; }
  std::uint16_t u16(std::size_t at) const {
    auto p = need(at, 2);
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
  }
  std::uint16_t u16be(std::size_t at) const {
    auto p = need(at, 2);
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
  }
  std::uint32_t u32(std::size_t at) const {
    auto p = need(at, 4);
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
  }
  std::span<const std::uint8_t> need(std::size_t at, std::size_t count) const {
    if (at > data_.size() || count > data_.size() - at) {
      throw ProtocolError("field past the end of the message");
    }
    return data_.subspan(at, count);
  }
  std::size_t size() const { return data_.size(); }

 private:
  std::span<const std::uint8_t> data_;
};

void appendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// Cuts a UTF-16 string to at most `units` code units without splitting a surrogate pair.
std::u16string_view cutUtf16(std::u16string_view text, std::size_t units) {
  if (text.size() <= units) return text;
  if (units > 0 && text[units - 1] >= 0xD800 && text[units - 1] <= 0xDBFF) --units;
  return text.substr(0, units);
}

template <typename Int>
bool parseDecimal(const std::string& text, Int& value) {
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size();
}

bool isLongText(const SqlResultSet& result, std::size_t column) {
  return std::any_of(result.rows.begin(), result.rows.end(), [&](const auto& row) {
    return row[column] && utf8ToUtf16(*row[column]).size() * 2 > kNVarCharMaxBytes;
  });
}

}  // namespace

std::u16string utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<std::uint8_t>(text[i]);
    std::size_t extra = 0;
    char32_t c = 0;
    char32_t min = 0;
    if (lead < 0x80) {
      c = lead;
    } else if ((lead & 0xE0) == 0xC0) {
      extra = 1, c = lead & 0x1F, min = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      extra = 2, c = lead & 0x0F, min = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      extra = 3, c = lead & 0x07, min = 0x10000;
    } else {
      out.push_back(static_cast<char16_t>(kReplacement));
      ++i;
      continue;
    }
    std::size_t used = 1;
    bool ok = true;
    for (; used <= extra; ++used) {
      if (i + used >= text.size() || (static_cast<std::uint8_t>(text[i + used]) & 0xC0) != 0x80) {
        ok = false;
        break;
      }
      c = (c << 6) | (static_cast<std::uint8_t>(text[i + used]) & 0x3F);
    }
    if (!ok || c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
      out.push_back(static_cast<char16_t>(kReplacement));
      i += used;
      continue;
    }
    if (c >= 0x10000) {
      c -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(c));
    }
    i += used;
  }
  return out;
}

std::string utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size() * 3);
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = kReplacement;
    }
    appendUtf8(out, c);
  }
  return out;
}

std::string utf16leToUtf8(std::span<const std::uint8_t> bytes) {
  if (bytes.size() % 2 != 0) throw ProtocolError("UTF-16 text of odd length");
  std::u16string units(bytes.size() / 2, u'\0');
  for (std::size_t i = 0; i < units.size(); ++i) {
    units[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  }
  return utf16ToUtf8(units);
}

Login7 parseLogin7(std::span<const std::uint8_t> payload) {
  // Fixed part up to and including the database offset/length pair.
  constexpr std::size_t kMinimum = 72;
  const Reader in(payload);
  if (payload.size() < kMinimum) throw ProtocolError("LOGIN7 too short");
  if (in.u32(0) > payload.size()) throw ProtocolError("LOGIN7 length beyond the message");
  const auto text = [&](std::size_t field) {
    const std::size_t offset = in.u16(field);
    const std::size_t chars = in.u16(field + 2);
    return in.need(offset, chars * 2);
  };
  Login7 login;
  login.tdsVersion = in.u32(4);
  login.packetSize = in.u32(8);
  login.user = utf16leToUtf8(text(40));
  // The password travels with each byte's nibbles swapped and XORed with 0xA5.
  const auto scrambled = text(44);
  Bytes password(scrambled.begin(), scrambled.end());
  for (auto& b : password) {
    b ^= 0xA5;
    b = static_cast<std::uint8_t>((b << 4) | (b >> 4));
  }
  login.password = utf16leToUtf8(password);
  login.database = utf16leToUtf8(text(68));
  return login;
}

void checkPrelogin(std::span<const std::uint8_t> payload) {
  const Reader in(payload);
  // Each option is 5 bytes; the table ends with 0xFF. Bounding the walk by the payload size
  // keeps a table without terminator from looping on.
  for (std::size_t at = 0;; at += 5) {
    const std::uint8_t option = in.u8(at);
    if (option == 0xFF) return;
    const std::size_t offset = in.u16be(at + 1);
    const std::size_t length = in.u16be(at + 3);
    in.need(offset, length);
  }
}

Bytes preloginReply() {
  // Option table (3 entries of 5 bytes + terminator = 16) followed by the option data.
  const Bytes version{16, 0, 0x0F, 0xA0, 0, 0};  // 16.0.4000, sub-build 0
  Bytes out;
  const auto entry = [&](std::uint8_t option, std::uint16_t offset, std::uint16_t length) {
    // One byte at a time: mingw GCC 12 misreads an initializer-list insert as an overflow.
    for (const std::uint8_t byte :
         {option, static_cast<std::uint8_t>(offset >> 8), static_cast<std::uint8_t>(offset & 0xFF),
          static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length & 0xFF)}) {
      out.push_back(byte);
    }
  };
  constexpr std::uint16_t kData = 3 * 5 + 1;
  entry(0x00, kData, 6);      // VERSION
  entry(0x01, kData + 6, 1);  // ENCRYPTION
  entry(0x04, kData + 7, 1);  // MARS
  out.push_back(0xFF);
  out.insert(out.end(), version.begin(), version.end());
  out.push_back(0x02);  // ENCRYPT_NOT_SUP: the driver then talks in the clear, like the old link
  out.push_back(0x00);  // no MARS
  return out;
}

namespace {
// Size of the ALL_HEADERS block that starts batch and transaction requests.
std::size_t allHeadersSize(const Reader& in) {
  const std::size_t total = in.u32(0);
  if (total < 4 || total > in.size()) throw ProtocolError("bad ALL_HEADERS length");
  return total;
}
}  // namespace

std::string parseSqlBatch(std::span<const std::uint8_t> payload) {
  const Reader in(payload);
  const std::size_t start = allHeadersSize(in);
  return utf16leToUtf8(payload.subspan(start));
}

TransactionRequest parseTransactionRequest(std::span<const std::uint8_t> payload) {
  const Reader in(payload);
  switch (in.u16(allHeadersSize(in))) {
    case 5:
      return TransactionRequest::Begin;
    case 7:
      return TransactionRequest::Commit;
    case 8:
      return TransactionRequest::Rollback;
    default:
      return TransactionRequest::Other;
  }
}

void TokenWriter::u16(std::uint16_t v) {
  bytes_.push_back(static_cast<std::uint8_t>(v & 0xFF));
  bytes_.push_back(static_cast<std::uint8_t>(v >> 8));
}

void TokenWriter::u32(std::uint32_t v) {
  for (int shift = 0; shift < 32; shift += 8)
    bytes_.push_back(static_cast<std::uint8_t>(v >> shift));
}

void TokenWriter::u64(std::uint64_t v) {
  for (int shift = 0; shift < 64; shift += 8)
    bytes_.push_back(static_cast<std::uint8_t>(v >> shift));
}

void TokenWriter::utf16(std::u16string_view text) {
  for (char16_t c : text) u16(static_cast<std::uint16_t>(c));
}

void TokenWriter::bVarchar(std::string_view text) {
  const auto wide = utf8ToUtf16(text);
  const auto cut = cutUtf16(wide, 255);
  u8(static_cast<std::uint8_t>(cut.size()));
  utf16(cut);
}

void TokenWriter::envChange(std::uint8_t type, std::string_view newValue,
                            std::string_view oldValue) {
  TokenWriter body;
  body.u8(type);
  body.bVarchar(newValue);
  body.bVarchar(oldValue);
  u8(kTokenEnvChange);
  u16(static_cast<std::uint16_t>(body.bytes_.size()));
  bytes_.insert(bytes_.end(), body.bytes_.begin(), body.bytes_.end());
}

void TokenWriter::envChangeBinary(std::uint8_t type, std::span<const std::uint8_t> newValue,
                                  std::span<const std::uint8_t> oldValue) {
  u8(kTokenEnvChange);
  u16(static_cast<std::uint16_t>(1 + 1 + newValue.size() + 1 + oldValue.size()));
  u8(type);
  u8(static_cast<std::uint8_t>(newValue.size()));
  bytes_.insert(bytes_.end(), newValue.begin(), newValue.end());
  u8(static_cast<std::uint8_t>(oldValue.size()));
  bytes_.insert(bytes_.end(), oldValue.begin(), oldValue.end());
}

void TokenWriter::message(bool isError, const SqlMessage& message) {
  TokenWriter body;
  body.u32(static_cast<std::uint32_t>(message.number));
  body.u8(static_cast<std::uint8_t>(message.state));
  body.u8(static_cast<std::uint8_t>(message.severity));
  // The token length is 16 bits, so very long texts are cut to what fits.
  const auto wide = utf8ToUtf16(message.text);
  const auto text = cutUtf16(wide, 30000);
  body.u16(static_cast<std::uint16_t>(text.size()));
  body.utf16(text);
  body.bVarchar("SCRIPTED");  // server name
  body.bVarchar("");          // procedure name
  body.u32(1);                // line number
  u8(isError ? kTokenError : kTokenInfo);
  u16(static_cast<std::uint16_t>(body.bytes_.size()));
  bytes_.insert(bytes_.end(), body.bytes_.begin(), body.bytes_.end());
}

void TokenWriter::loginAck() {
  TokenWriter body;
  body.u8(1);  // T-SQL interface
  // The TDS version goes big-endian here, unlike everything else.
  for (int shift = 24; shift >= 0; shift -= 8) {
    body.u8(static_cast<std::uint8_t>(kTdsVersion74 >> shift));
  }
  body.bVarchar("Microsoft SQL Server");
  body.bytes_.insert(body.bytes_.end(), {16, 0, 0x0F, 0xA0});  // 16.0.4000
  u8(kTokenLoginAck);
  u16(static_cast<std::uint16_t>(body.bytes_.size()));
  bytes_.insert(bytes_.end(), body.bytes_.begin(), body.bytes_.end());
}

void TokenWriter::done(std::uint16_t status, std::uint16_t command, std::uint64_t rowCount) {
  u8(kTokenDone);
  u16(status);
  u16(command);
  u64(rowCount);
}

void TokenWriter::doneToken(std::uint8_t token, std::uint16_t status, std::uint16_t command,
                            std::uint64_t rowCount) {
  u8(token);
  u16(status);
  u16(command);
  u64(rowCount);
}

void TokenWriter::doneInProc(std::uint16_t status, std::uint16_t command, std::uint64_t rowCount) {
  doneToken(kTokenDoneInProc, status, command, rowCount);
}

void TokenWriter::doneProc(std::uint16_t status, std::uint16_t command, std::uint64_t rowCount) {
  doneToken(kTokenDoneProc, status, command, rowCount);
}

void TokenWriter::returnStatus(std::int32_t value) {
  u8(kTokenReturnStatus);
  u32(static_cast<std::uint32_t>(value));
}

void validate(const SqlResultSet& result) {
  if (result.columns.empty()) throw std::invalid_argument("result set without columns");
  if (result.columns.size() > 4096) throw std::invalid_argument("too many columns");
  for (const auto& row : result.rows) {
    if (row.size() != result.columns.size()) {
      throw std::invalid_argument("row width differs from the column count");
    }
    for (std::size_t c = 0; c < row.size(); ++c) {
      if (!row[c]) continue;
      std::int32_t i32 = 0;
      std::int64_t i64 = 0;
      const auto type = result.columns[c].type;
      if (type == SqlColumn::Type::Int && !parseDecimal(*row[c], i32)) {
        throw std::invalid_argument("Int cell is not a 32-bit decimal: " + *row[c]);
      }
      if (type == SqlColumn::Type::BigInt && !parseDecimal(*row[c], i64)) {
        throw std::invalid_argument("BigInt cell is not a 64-bit decimal: " + *row[c]);
      }
      if (type == SqlColumn::Type::VarChar && utf8ToCp949(*row[c]).size() > kVarCharMaxBytes) {
        throw std::invalid_argument("VarChar cell longer than 8000 bytes");
      }
    }
  }
}

void TokenWriter::resultSet(const SqlResultSet& result) {
  std::vector<bool> longText(result.columns.size(), false);
  u8(kTokenColMetadata);
  u16(static_cast<std::uint16_t>(result.columns.size()));
  for (std::size_t c = 0; c < result.columns.size(); ++c) {
    const auto& column = result.columns[c];
    u32(0);       // user type
    u16(0x0001);  // nullable
    switch (column.type) {
      case SqlColumn::Type::Int:
        u8(kTypeIntN);
        u8(4);
        break;
      case SqlColumn::Type::BigInt:
        u8(kTypeIntN);
        u8(8);
        break;
      case SqlColumn::Type::Text:
        longText[c] = isLongText(result, c);
        u8(kTypeNVarChar);
        u16(longText[c] ? kNVarCharMaxMarker : kNVarCharMaxBytes);
        bytes_.insert(bytes_.end(), kServerCollation.begin(), kServerCollation.end());
        break;
      case SqlColumn::Type::VarChar:
        u8(kTypeBigVarChar);
        u16(static_cast<std::uint16_t>(kVarCharMaxBytes));
        bytes_.insert(bytes_.end(), kServerCollation.begin(), kServerCollation.end());
        break;
    }
    bVarchar(column.name);
  }
  for (const auto& row : result.rows) {
    u8(kTokenRow);
    for (std::size_t c = 0; c < row.size(); ++c) {
      const auto& cell = row[c];
      switch (result.columns[c].type) {
        case SqlColumn::Type::Int: {
          std::int32_t v = 0;
          if (!cell || !parseDecimal(*cell, v)) {
            u8(0);
            break;
          }
          u8(4);
          u32(static_cast<std::uint32_t>(v));
          break;
        }
        case SqlColumn::Type::BigInt: {
          std::int64_t v = 0;
          if (!cell || !parseDecimal(*cell, v)) {
            u8(0);
            break;
          }
          u8(8);
          u64(static_cast<std::uint64_t>(v));
          break;
        }
        case SqlColumn::Type::Text: {
          const auto wide = cell ? utf8ToUtf16(*cell) : std::u16string();
          if (!longText[c]) {
            u16(cell ? static_cast<std::uint16_t>(wide.size() * 2) : 0xFFFF);
            utf16(wide);
          } else if (!cell) {
            u64(kPlpNull);
          } else {
            // One chunk per value, then the zero-length terminator chunk.
            u64(wide.size() * 2);
            if (!wide.empty()) u32(static_cast<std::uint32_t>(wide.size() * 2));
            utf16(wide);
            u32(0);
          }
          break;
        }
        case SqlColumn::Type::VarChar: {
          const std::string bytes = cell ? utf8ToCp949(*cell) : std::string();
          u16(cell ? static_cast<std::uint16_t>(bytes.size()) : 0xFFFF);
          bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
          break;
        }
      }
    }
  }
}

}  // namespace mvx::testing::tds
