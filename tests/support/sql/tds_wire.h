#pragma once

// Byte-level pieces of TDS 7.4 for the scripted SQL server: text conversion, parsing what a
// client sends and writing the tokens the server answers with. Parsers throw ProtocolError on
// anything malformed so a session can drop the connection instead of trusting the bytes.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "support/sql/scripted_sql_server.h"

namespace mvx::testing::tds {

using Bytes = std::vector<std::uint8_t>;

struct ProtocolError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

namespace packet {
inline constexpr std::uint8_t kSqlBatch = 0x01;
inline constexpr std::uint8_t kRpc = 0x03;
inline constexpr std::uint8_t kReply = 0x04;
inline constexpr std::uint8_t kAttention = 0x06;
inline constexpr std::uint8_t kTransactionManager = 0x0E;
inline constexpr std::uint8_t kLogin7 = 0x10;
inline constexpr std::uint8_t kPrelogin = 0x12;

inline constexpr std::size_t kHeaderSize = 8;
inline constexpr std::uint8_t kEndOfMessage = 0x01;
inline constexpr std::uint8_t kIgnore = 0x02;
}  // namespace packet

namespace done {
inline constexpr std::uint16_t kMore = 0x0001;
inline constexpr std::uint16_t kError = 0x0002;
inline constexpr std::uint16_t kCount = 0x0010;
inline constexpr std::uint16_t kAttention = 0x0020;
}  // namespace done

namespace env {
inline constexpr std::uint8_t kDatabase = 1;
inline constexpr std::uint8_t kLanguage = 2;
inline constexpr std::uint8_t kPacketSize = 4;
inline constexpr std::uint8_t kCollation = 7;
inline constexpr std::uint8_t kBeginTransaction = 8;
inline constexpr std::uint8_t kCommitTransaction = 9;
inline constexpr std::uint8_t kRollbackTransaction = 10;
}  // namespace env

inline constexpr std::uint32_t kTdsVersion74 = 0x74000004;

// Korean_Wansung_CI_AS, as at a customer's server: VARCHAR data travels in its code page, CP949.
inline constexpr std::array<std::uint8_t, 5> kServerCollation{0x12, 0x04, 0xD0, 0x00, 0x00};

// Invalid input becomes U+FFFD rather than an exception: text is data here, not structure.
std::u16string utf8ToUtf16(std::string_view text);
std::string utf16ToUtf8(std::u16string_view text);
std::string utf16leToUtf8(std::span<const std::uint8_t> bytes);  // throws on an odd length

struct Login7 {
  std::uint32_t tdsVersion = 0;
  std::uint32_t packetSize = 0;
  std::string user, password, database;
};
Login7 parseLogin7(std::span<const std::uint8_t> payload);

// Checks the option table of a PRELOGIN request; the server's answer does not depend on it.
void checkPrelogin(std::span<const std::uint8_t> payload);
// Version, encryption not supported, no instance, no MARS.
Bytes preloginReply();

// Text of a SQL batch after its ALL_HEADERS block.
std::string parseSqlBatch(std::span<const std::uint8_t> payload);

enum class TransactionRequest { Begin, Commit, Rollback, Other };
TransactionRequest parseTransactionRequest(std::span<const std::uint8_t> payload);

// Appends tokens of a tabular result.
class TokenWriter {
 public:
  void envChange(std::uint8_t type, std::string_view newValue, std::string_view oldValue);
  void envChangeBinary(std::uint8_t type, std::span<const std::uint8_t> newValue,
                       std::span<const std::uint8_t> oldValue);
  void message(bool isError, const SqlMessage& message);
  void loginAck();
  void done(std::uint16_t status, std::uint16_t command, std::uint64_t rowCount);
  // What a stored procedure sends: DONEINPROC after each statement of its own, then its
  // RETURNSTATUS and the DONEPROC that ends the call.
  void doneInProc(std::uint16_t status, std::uint16_t command, std::uint64_t rowCount);
  void returnStatus(std::int32_t value);
  void doneProc(std::uint16_t status, std::uint16_t command, std::uint64_t rowCount);
  // Columns are laid out from the rows that follow (a long text column becomes NVARCHAR(MAX)).
  void resultSet(const SqlResultSet& result);

  Bytes& bytes() { return bytes_; }

 private:
  void u8(std::uint8_t v) { bytes_.push_back(v); }
  void u16(std::uint16_t v);
  void u32(std::uint32_t v);
  void u64(std::uint64_t v);
  void utf16(std::u16string_view text);
  void bVarchar(std::string_view text);  // 1-byte character count, cut to 255
  // DONE, DONEINPROC and DONEPROC share one layout.
  void doneToken(std::uint8_t token, std::uint16_t status, std::uint16_t command,
                 std::uint64_t rowCount);

  Bytes bytes_;
};

// The CP949 bytes of UTF-8 text, as a VARCHAR in the Korean collation holds them; throws
// std::invalid_argument for text that CP949 cannot hold.
std::string utf8ToCp949(std::string_view text);

// Throws std::invalid_argument for a result set the wire cannot carry.
void validate(const SqlResultSet& result);

}  // namespace mvx::testing::tds
