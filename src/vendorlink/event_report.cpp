#include "vendorlink/event_report.h"

#include <exception>

#include "common/ansi_codec.h"
#include "common/text_util.h"
#include "vendorlink/link_module.h"
#include "vendorlink/link_operation.h"

namespace mvx {

std::string_view ReportSortMark(std::string_view kind) {
  if (kind == "2") return "ER";
  if (kind == "4") return "KX";
  return {};
}

std::string BuildReportLine(std::string_view sortMark, std::string_view installationId,
                            std::string_view database, std::string_view eventCode,
                            std::string_view computerName) {
  std::string line = "ATB||";
  line.append(sortMark).append("||");
  line.append(TrimControls(installationId)).append("||");
  line.append(database).append("||");
  line.append(eventCode).append("||");
  line.append(TrimControls(computerName)).append("||ATB");
  return line;
}

HttpForm BuildReportForm(std::string boundary, std::string_view sortMark,
                         std::string_view installationId, std::string_view database,
                         std::string_view eventCode, std::string_view computerName) {
  HttpForm form(std::move(boundary));
  auto add = [&form](std::string_view name, std::string_view value) {
    form.AddField(name, EncodeFormValue(ToAnsi(TrimControls(value))));
  };
  add("SORT", sortMark);
  add("ID", installationId);
  add("DATABASE", database);
  add("ERROR", eventCode);
  add("PCNAME", computerName);
  return form;
}

void TdMFunc::SendReport(std::string_view kind, std::string_view installationId,
                         std::string_view database, std::string_view eventCode,
                         std::string_view computerName) {
  if (installationId.empty()) return;
  const Operation operation(*this);
  try {
    linkFlag_ = PingSupportHost();
    if (!linkFlag_) return;
    const std::string_view mark = ReportSortMark(kind);
    if (mark.empty()) return;
    if (transportMode_ == "1") {
      const std::string line =
          BuildReportLine(mark, installationId, database, eventCode, computerName);
      if (SocketSend(line, endpoints_.linePort) != kSocketDone) {
        RecordReportFailure("no connection to " + currentHostAddress_);
      }
    } else {
      idHttp1_.HttpPostForm(SupportUrl(kReportPath),
                            BuildReportForm(MakeFormBoundary(clock_.Now()), mark, installationId,
                                            database, eventCode, computerName));
    }
  } catch (const std::exception& e) {
    RecordReportFailure(e.what());
  } catch (...) {
    RecordReportFailure("unknown error");
  }
}

void TdMFunc::RecordReportFailure(std::string_view reason) noexcept {
  try {
    // The text stays the same while the cause does, so the log's repeat
    // suppression keeps one line per outage.
    log_.WriteFileLog("Report not sent: " + std::string(reason));
  } catch (...) {
    // A log that refuses writes must not stop the caller's work either.
  }
}

}  // namespace mvx
