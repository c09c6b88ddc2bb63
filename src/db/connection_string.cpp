#include "db/connection_string.h"

#include "common/text_util.h"

namespace mvx {
namespace {

constexpr std::string_view kApplicationName = "MvxRazuRarevi";

// Whole-text decimal port 1..65535, else 0.
int ParsePort(std::string_view text) {
  int port = 0;
  if (!ParseInt(text, port) || port <= 0 || port > 65535) return 0;
  return port;
}

void Append(std::string& out, DriverKind kind, std::string_view key, std::string_view value) {
  out.append(key);
  out.push_back('=');
  out.append(QuoteConnectionValue(value, kind));
  out.push_back(';');
}

}  // namespace

ServerAddress ParseServerName(std::string_view serverName) {
  ServerAddress address;
  std::string text = TrimBlanks(serverName);
  if (const auto slash = text.find('\\'); slash != std::string::npos) {
    address.instance = TrimBlanks(std::string_view(text).substr(slash + 1));
    text = TrimBlanks(std::string_view(text).substr(0, slash));
  } else if (const auto comma = text.find(','); comma != std::string::npos) {
    address.port = ParsePort(std::string_view(text).substr(comma + 1));
    text = TrimBlanks(std::string_view(text).substr(0, comma));
  }
  // "tcp:" is how the Microsoft drivers spell a forced protocol; the service
  // only ever talks TCP or the local shortcut.
  if (StartsWith(UpperAscii(text), "TCP:")) text = text.substr(4);
  address.local = text.empty() || text == "." || EqualsNoCase(text, "(local)");
  if (!address.local) address.host = text;
  return address;
}

std::string QuoteConnectionValue(std::string_view value, DriverKind kind) {
  const bool needsBraces = value.find_first_of(";{}") != std::string_view::npos ||
                           (!value.empty() && (value.front() == ' ' || value.back() == ' '));
  if (!needsBraces) return std::string(value);
  std::string out = "{";
  for (char c : value) {
    out.push_back(c);
    if (c == '}' && kind != DriverKind::FreeTds) out.push_back('}');
  }
  out.push_back('}');
  return out;
}

std::string BuildConnectionString(const OdbcDriver& driver, const ConnectionParams& params,
                                  std::string_view localHost) {
  ServerAddress address = ParseServerName(params.hostName);
  if (params.portOverride > 0) {
    address.port = params.portOverride;
    address.instance.clear();
  }
  std::string host = address.local ? std::string(localHost) : address.host;
  // The named-pipe/shared-memory shortcut has no port; a port means TCP.
  if (address.local && address.port > 0 && EqualsNoCase(host, "(local)")) host = "127.0.0.1";
  if (!address.instance.empty()) host += "\\" + address.instance;

  std::string out;
  out.append("DRIVER={");
  for (char c : driver.name) {
    out.push_back(c);
    if (c == '}') out.push_back('}');
  }
  out.append("};");
  const bool freeTds = driver.kind == DriverKind::FreeTds;
  if (freeTds) {
    Append(out, driver.kind, "SERVER", host);
    if (address.port > 0) Append(out, driver.kind, "PORT", std::to_string(address.port));
  } else {
    Append(out, driver.kind, "SERVER",
           address.port > 0 ? host + "," + std::to_string(address.port) : host);
  }
  if (!params.database.empty()) Append(out, driver.kind, "DATABASE", params.database);
  Append(out, driver.kind, "UID", params.userName);
  Append(out, driver.kind, "PWD", params.password);
  Append(out, driver.kind, "APP", kApplicationName);
  if (freeTds) {
    // Korean text must survive the driver both ways; 7.4 is what SQL Server
    // 2012 and later speak.
    Append(out, driver.kind, "TDS_Version", "7.4");
    Append(out, driver.kind, "ClientCharset", "UTF-8");
  }
  // Driver 18 encrypts by default; the service never required encryption.
  if (driver.kind == DriverKind::MicrosoftOdbc && driver.version >= 18) {
    Append(out, driver.kind, "Encrypt", "Optional");
  }
  return out;
}

}  // namespace mvx
