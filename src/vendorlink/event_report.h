#pragma once

#include <string>
#include <string_view>

#include "vendorlink/http_form.h"

namespace mvx {

inline constexpr std::string_view kReportPath = "/API/BK_SendError.php";

// The sort mark of a report kind: "2" -> "ER", "4" -> "KX", anything else empty.
std::string_view ReportSortMark(std::string_view kind);

// The socket line without its CR LF: ATB||mark||id||database||code||computer||ATB,
// with the installation and computer trimmed and the database unchanged (UTF-8).
std::string BuildReportLine(std::string_view sortMark, std::string_view installationId,
                            std::string_view database, std::string_view eventCode,
                            std::string_view computerName);

// The HTTP form: SORT, ID, DATABASE, ERROR, PCNAME, each trimmed, in ANSI bytes
// and form-encoded.
HttpForm BuildReportForm(std::string boundary, std::string_view sortMark,
                         std::string_view installationId, std::string_view database,
                         std::string_view eventCode, std::string_view computerName);

}  // namespace mvx
