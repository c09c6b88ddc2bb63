#include "db/odbc_handle.h"

#include <algorithm>
#include <utility>

#include "common/text_util.h"
#include "db/utf16_text.h"

namespace mvx {
namespace {

// More records than any statement of the service produces; the bound keeps
// a hostile driver from looping us forever.
constexpr SQLSMALLINT kMaxDiagRecords = 2000;
constexpr int kMaxDrivers = 1000;

}  // namespace

OdbcHandle OdbcHandle::Allocate(SQLSMALLINT type, SQLHANDLE parent) {
  OdbcHandle out;
  SQLHANDLE handle = SQL_NULL_HANDLE;
  if (SQL_SUCCEEDED(SQLAllocHandle(type, parent, &handle)) && handle != SQL_NULL_HANDLE) {
    out.type_ = type;
    out.handle_ = handle;
  }
  return out;
}

OdbcHandle::OdbcHandle(OdbcHandle&& other) noexcept
    : type_(other.type_), handle_(std::exchange(other.handle_, nullptr)) {}

OdbcHandle& OdbcHandle::operator=(OdbcHandle&& other) noexcept {
  if (this != &other) {
    reset();
    type_ = other.type_;
    handle_ = std::exchange(other.handle_, nullptr);
  }
  return *this;
}

void OdbcHandle::reset() noexcept {
  if (handle_ != SQL_NULL_HANDLE) SQLFreeHandle(type_, handle_);
  handle_ = SQL_NULL_HANDLE;
}

std::vector<SQLWCHAR> ToSqlWide(std::string_view utf8) {
  const std::u16string wide = Utf8ToUtf16(utf8);
  std::vector<SQLWCHAR> out(wide.begin(), wide.end());
  out.push_back(0);
  return out;
}

std::string FromSqlWide(const SQLWCHAR* text, std::size_t length) {
  std::u16string wide;
  wide.reserve(length);
  for (std::size_t i = 0; i < length; ++i) wide.push_back(static_cast<char16_t>(text[i]));
  return Utf16ToUtf8(wide);
}

std::vector<DiagRecord> ReadDiagnostics(SQLSMALLINT handleType, SQLHANDLE handle) {
  std::vector<DiagRecord> records;
  if (handle == SQL_NULL_HANDLE) return records;
  for (SQLSMALLINT i = 1; i <= kMaxDiagRecords; ++i) {
    SQLWCHAR state[6] = {};
    SQLINTEGER native = 0;
    std::vector<SQLWCHAR> text(1024);
    SQLSMALLINT length = 0;
    SQLRETURN rc = SQLGetDiagRecW(handleType, handle, i, state, &native, text.data(),
                                  static_cast<SQLSMALLINT>(text.size()), &length);
    if (rc == SQL_SUCCESS_WITH_INFO && length >= static_cast<SQLSMALLINT>(text.size())) {
      // The message was cut to the buffer: ask again with room for all of it.
      text.assign(static_cast<std::size_t>(length) + 1, 0);
      rc = SQLGetDiagRecW(handleType, handle, i, state, &native, text.data(),
                          static_cast<SQLSMALLINT>(text.size()), &length);
    }
    if (!SQL_SUCCEEDED(rc)) break;
    const std::size_t used =
        length < 0 ? 0 : std::min<std::size_t>(static_cast<std::size_t>(length), text.size() - 1);
    DiagRecord record;
    record.sqlState = FromSqlWide(state, 5);
    record.nativeError = static_cast<long>(native);
    record.message = StripDriverPrefixes(FromSqlWide(text.data(), used));
    records.push_back(std::move(record));
  }
  return records;
}

bool IsErrorRecord(const DiagRecord& record) {
  return !StartsWith(record.sqlState, "01") && !StartsWith(record.sqlState, "00");
}

bool IsDriverClientError(const DiagRecord& record) {
  return record.nativeError >= 20000 && record.nativeError <= 20999;
}

bool IsConnectionLost(const DiagRecord& record) {
  // Not every class-08 state: FreeTDS reports an unknown database in "use"
  // as 08004 on a connection that works on.
  const std::string& state = record.sqlState;
  return state == "08S01" || state == "08S02" || state == "08003" || state == "08007";
}

std::string StripDriverPrefixes(std::string_view message) {
  std::size_t start = 0;
  // "[unixODBC][FreeTDS][SQL Server]Invalid object name ..." -> the server's part.
  while (start < message.size() && message[start] == '[') {
    const std::size_t close = message.find(']', start);
    if (close == std::string_view::npos) break;
    start = close + 1;
  }
  return std::string(message.substr(start));
}

std::vector<std::string> ListInstalledDrivers(SQLHENV environment) {
  std::vector<std::string> names;
  SQLUSMALLINT direction = SQL_FETCH_FIRST;
  for (int i = 0; i < kMaxDrivers; ++i) {
    SQLWCHAR description[512] = {};
    SQLWCHAR attributes[2048] = {};
    SQLSMALLINT descriptionLength = 0;
    SQLSMALLINT attributesLength = 0;
    const SQLRETURN rc = SQLDriversW(environment, direction, description, 512, &descriptionLength,
                                     attributes, 2048, &attributesLength);
    if (!SQL_SUCCEEDED(rc)) break;
    const std::size_t used =
        descriptionLength < 0
            ? 0
            : std::min<std::size_t>(static_cast<std::size_t>(descriptionLength), 511);
    names.push_back(FromSqlWide(description, used));
    direction = SQL_FETCH_NEXT;
  }
  return names;
}

}  // namespace mvx
