#include <syslog.h>

#include <iostream>
#include <string>

#include "service/event_log.h"

namespace mvx {

// syslog knows the daemon by one name; another event source goes into the text.
void SystemEventLog::Error(std::string_view source, std::string_view message) {
  const std::string ident(kServiceName);
  std::string text(message);
  if (source != kServiceName) text = std::string(source) + ": " + text;
  openlog(ident.c_str(), LOG_PID, LOG_DAEMON);
  syslog(LOG_ERR, "%s", text.c_str());
  closelog();
  std::cerr << ident << ": " << text << std::endl;
  if (echo_) echo_(text);
}

}  // namespace mvx
