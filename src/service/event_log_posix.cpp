#include <syslog.h>

#include <iostream>
#include <string>

#include "service/event_log.h"

namespace mvx {

void SystemEventLog::Error(std::string_view source, std::string_view message) {
  const std::string ident(source);
  const std::string text(message);
  openlog(ident.c_str(), LOG_PID, LOG_DAEMON);
  syslog(LOG_ERR, "%s", text.c_str());
  closelog();
  std::cerr << ident << ": " << text << std::endl;
  if (echo_) echo_(text);
}

}  // namespace mvx
