#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "companion/service_control.h"
#include "vendorlink/link_module.h"

namespace mvx {

// Outcome of the companion check: the message (may be empty), the two-digit
// companion status code and a third text that stays empty.
struct tErrState {
  std::string message;
  std::string code;
  std::string extra;
  friend bool operator==(const tErrState&, const tErrState&) = default;
};

inline constexpr std::string_view kCompanionServiceName = "RidOdadezMain";
inline constexpr std::string_view kCompanionDisplayName = "Morvex SetRazuRarevi";
inline constexpr std::string_view kCompanionProgram = "Mvx_RidOdadez.exe";
inline constexpr std::string_view kCompanionLibrary = "dbexpmss.dll";

// Keeps the companion service installed and running: installs it (downloading
// its program from the primary support host) when it is missing, starts or
// resumes it when it is not running.
class CompanionInstaller {
 public:
  // `writeServiceLog` stores an activity row without a database name.
  CompanionInstaller(ServiceControl& control, TdMFunc& link, std::string exeDir,
                     std::function<void(std::string_view)> writeServiceLog);

  // One check, as every regular tick runs it; a non-empty message is logged.
  // Once a stop is requested only a success is: any other outcome may have
  // been cut short, and the check returns an empty message and code.
  tErrState CompanionCheck();
  // Downloads, installs and starts the missing companion. Never throws: an
  // error on the way gives an empty message and code.
  tErrState SetUpCompanion();
  // Whether the companion program was downloaded; the library is fetched only
  // when missing, and its outcome does not count.
  bool DownloadCompanionFiles();

 private:
  ServiceControl& control_;
  TdMFunc& link_;
  std::string exeDir_;
  std::function<void(std::string_view)> writeServiceLog_;
};

}  // namespace mvx
