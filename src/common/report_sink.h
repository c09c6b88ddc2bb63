#pragma once

#include <string_view>

namespace mvx {

// Where event reports go; the support-server link implements it.
class ReportSink {
 public:
  virtual ~ReportSink() = default;
  virtual void SendReport(std::string_view kind, std::string_view installationId,
                          std::string_view database, std::string_view eventCode,
                          std::string_view computerName) = 0;
};

}  // namespace mvx
