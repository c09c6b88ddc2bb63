#include "db/driver_choice.h"

#include <algorithm>
#include <cctype>

#include "common/text_util.h"

namespace mvx {
namespace {

std::string LowerAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// "ODBC Driver 18 for SQL Server" -> 18; 0 when the name has another form.
int MicrosoftDriverVersion(std::string_view lower) {
  constexpr std::string_view kPrefix = "odbc driver ";
  constexpr std::string_view kSuffix = " for sql server";
  if (!StartsWith(lower, kPrefix) || lower.size() <= kPrefix.size() + kSuffix.size() ||
      lower.substr(lower.size() - kSuffix.size()) != kSuffix) {
    return 0;
  }
  const std::string_view digits =
      lower.substr(kPrefix.size(), lower.size() - kPrefix.size() - kSuffix.size());
  int version = 0;
  if (digits.empty() || digits.size() > 4) return 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return 0;
    version = version * 10 + (c - '0');
  }
  return version;
}

int Rank(const OdbcDriver& driver) {
  switch (driver.kind) {
    case DriverKind::MicrosoftOdbc:
      return 0;
    case DriverKind::NativeClient:
      return 1;
    case DriverKind::LegacySqlServer:
      return 2;
    case DriverKind::FreeTds:
      return 3;
    case DriverKind::Other:
      break;
  }
  return 4;
}

}  // namespace

OdbcDriver ClassifyDriver(std::string name) {
  OdbcDriver driver;
  const std::string lower = LowerAscii(TrimBlanks(name));
  driver.name = std::move(name);
  if (const int version = MicrosoftDriverVersion(lower); version > 0) {
    driver.kind = DriverKind::MicrosoftOdbc;
    driver.version = version;
  } else if (StartsWith(lower, "sql server native client")) {
    driver.kind = DriverKind::NativeClient;
  } else if (lower == "sql server") {
    driver.kind = DriverKind::LegacySqlServer;
  } else if (lower.find("freetds") != std::string::npos ||
             lower.find("tdsodbc") != std::string::npos) {
    driver.kind = DriverKind::FreeTds;
  }
  return driver;
}

std::optional<OdbcDriver> ChooseDriver(const std::vector<std::string>& installed,
                                       std::string_view forced) {
  if (!TrimBlanks(forced).empty()) return ClassifyDriver(TrimBlanks(forced));
  std::optional<OdbcDriver> best;
  for (const std::string& name : installed) {
    OdbcDriver candidate = ClassifyDriver(name);
    if (candidate.kind == DriverKind::Other) continue;
    if (!best) {
      best = std::move(candidate);
      continue;
    }
    const int rank = Rank(candidate);
    const int bestRank = Rank(*best);
    // Among Native Client versions the registered names sort by version.
    const bool newer = rank == bestRank && (candidate.version > best->version ||
                                            (candidate.version == best->version &&
                                             LowerAscii(candidate.name) > LowerAscii(best->name)));
    if (rank < bestRank || newer) best = std::move(candidate);
  }
  return best;
}

}  // namespace mvx
