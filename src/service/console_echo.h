#pragma once

#include <mutex>
#include <ostream>
#include <string_view>

#include "common/clock.h"

namespace mvx {

// Writes one line per recorded message, with the time, to a stream (console mode).
class ConsoleEcho {
 public:
  ConsoleEcho(std::ostream& out, const Clock& clock) : out_(out), clock_(clock) {}
  void Line(std::string_view kind, std::string_view database, std::string_view message);
  // An activity row: "[activity]" only when the insert succeeded.
  void Activity(std::string_view database, std::string_view message, bool stored) {
    Line(stored ? "activity" : "activity not stored", database, message);
  }

 private:
  std::mutex mutex_;
  std::ostream& out_;
  const Clock& clock_;
};

}  // namespace mvx
