#include "service/console_echo.h"

#include "common/date_text.h"

namespace mvx {

void ConsoleEcho::Line(std::string_view kind, std::string_view database, std::string_view message) {
  const std::string stamp = FormatLogKey(clock_.Now());
  std::lock_guard lock(mutex_);
  out_ << stamp << " [" << kind << "] ";
  if (!database.empty()) out_ << database << ": ";
  out_ << message << std::endl;
}

}  // namespace mvx
