#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "db/odbc_include.h"

namespace mvx {

// Owns one ODBC handle and frees it. A connection handle is disconnected by
// its owner before it is freed (SqlConnection::Close).
class OdbcHandle {
 public:
  OdbcHandle() = default;
  // Empty when the driver manager refuses.
  static OdbcHandle Allocate(SQLSMALLINT type, SQLHANDLE parent);
  ~OdbcHandle() { reset(); }
  OdbcHandle(OdbcHandle&& other) noexcept;
  OdbcHandle& operator=(OdbcHandle&& other) noexcept;
  OdbcHandle(const OdbcHandle&) = delete;
  OdbcHandle& operator=(const OdbcHandle&) = delete;

  SQLHANDLE get() const { return handle_; }
  SQLSMALLINT type() const { return type_; }
  explicit operator bool() const { return handle_ != SQL_NULL_HANDLE; }
  void reset() noexcept;

 private:
  SQLSMALLINT type_ = 0;
  SQLHANDLE handle_ = nullptr;
};

// UTF-8 to the driver's UTF-16, NUL-terminated; and back.
std::vector<SQLWCHAR> ToSqlWide(std::string_view utf8);
std::string FromSqlWide(const SQLWCHAR* text, std::size_t length);

// One diagnostic record as the driver gives it.
struct DiagRecord {
  std::string sqlState;
  long nativeError = 0;
  std::string message;  // the server's text, without the driver's "[..]" prefixes
};

std::vector<DiagRecord> ReadDiagnostics(SQLSMALLINT handleType, SQLHANDLE handle);

// Class 01 is a warning or an informational message (a BACKUP's progress,
// PRINT); anything else is an error.
bool IsErrorRecord(const DiagRecord& record);
// One of FreeTDS's own client-library errors (20000-20999), which it reports
// under state 01000.
bool IsDriverClientError(const DiagRecord& record);
// The link to the server is gone: the handles are of no further use.
bool IsConnectionLost(const DiagRecord& record);

std::string StripDriverPrefixes(std::string_view message);

// Names of the drivers the driver manager knows.
std::vector<std::string> ListInstalledDrivers(SQLHENV environment);

}  // namespace mvx
