#include "companion/companion_installer.h"

#include <exception>

#include "common/atomic_file.h"

namespace mvx {
namespace {

struct StartOutcome {
  int result;
  const char* afterInstall;
  const char* plainStart;
  const char* code;
};

// What a start of the companion means, after an install and on a plain tick.
constexpr StartOutcome kStartOutcomes[] = {
    {0, "RidOdadez Start", "RidOdadez Start", "00"},
    {1, "RidOdadez Install-->Start실패", "RidOdadez Start실패", "03"},
    {2, "RidOdadez Install-->서비스를 재계할 상태가 아님", "RidOdadez 서비스를 재계할 상태가 아님",
     "30"},
    {-1, "RidOdadez Install-->서비스가 존재하지 않음", "RidOdadez 서비스가 존재하지 않음", "31"},
    {-2, "RidOdadez Install-->SCM 접속할 수 없음", "RidOdadez SCM 접속할 수 없음", "14"},
    {-3, "RidOdadez Install-->서비스관리자Open못함", "RidOdadez SCM Open못함", "11"},
    {-4, "RidOdadez StopX-->상태쿼리실패-->Start실패", "RidOdadez 상태쿼리실패-->Start실패", "29"},
};

// Only the plain start's "SCM Open못함" has a code of its own.
tErrState StartState(int result, bool afterInstall) {
  for (const StartOutcome& o : kStartOutcomes) {
    if (o.result != result) continue;
    if (!afterInstall && result == -3) return {o.plainStart, "26", {}};
    return {afterInstall ? o.afterInstall : o.plainStart, o.code, {}};
  }
  return {};
}

tErrState InstallState(int result) {
  switch (result) {
    case kInstallEmptyArgument:
      return {"RidOdadez 입력값Err-->설치실패", "13", {}};
    case kInstallNoManager:
      return {"RidOdadez 서비스관리자OpenX-->설치실패", "12", {}};
    default:
      return {"RidOdadez 설치실패", "02", {}};
  }
}

}  // namespace

CompanionInstaller::CompanionInstaller(ServiceControl& control, TdMFunc& link, std::string exeDir,
                                       std::function<void(std::string_view)> writeServiceLog)
    : control_(control),
      link_(link),
      exeDir_(std::move(exeDir)),
      writeServiceLog_(std::move(writeServiceLog)) {}

tErrState CompanionInstaller::CompanionCheck() {
  const int state = control_.QueryServiceState(kCompanionServiceName);
  tErrState outcome;
  if (state == kServiceNotOpened) {
    outcome = SetUpCompanion();
  } else if (state == kManagerNotOpened) {
    outcome = {"RidOdadez 서비스관리자를 열수 없음", "14", {}};
  } else if (state == kServiceStateUnknown) {
    outcome = {"RidOdadez 알수없는 에러", "28", {}};
  } else if (state == kServiceQueryFailed) {
    outcome = {"RidOdadez 상태쿼리실패", "28", {}};
  } else if (state == kServiceRunning) {
    outcome = {"", "00", {}};
  } else {
    outcome = StartState(control_.StartServiceAndWait(kCompanionServiceName), false);
  }
  // A stop cuts waits and downloads short, so a failure then says nothing about the companion:
  // no row; the next start's tick checks again.
  if (link_.StopRequested() && outcome.code != "00") return {};
  if (!outcome.message.empty()) writeServiceLog_(outcome.message);
  return outcome;
}

tErrState CompanionInstaller::SetUpCompanion() {
  try {
    if (!DownloadCompanionFiles()) return {"RidOdadez DownLoad실패로 Install 할 수 없음", "01", {}};
    const int installed = control_.InstallService(kCompanionServiceName, kCompanionDisplayName,
                                                  exeDir_ + std::string(kCompanionProgram));
    if (installed != kInstallCreated) return InstallState(installed);
    return StartState(control_.StartServiceAndWait(kCompanionServiceName), true);
  } catch (...) {
    // For instance a program file in use that cannot be replaced: no message this tick.
    return {};
  }
}

bool CompanionInstaller::DownloadCompanionFiles() {
  if (!link_.DownloadFile(link_.SupportUrl("/RazuRarevi/Mvx_RidOdadez.exe"),
                          exeDir_ + std::string(kCompanionProgram))) {
    return false;
  }
  const std::string library = exeDir_ + std::string(kCompanionLibrary);
  if (FileExists(library)) return true;
  try {
    link_.DownloadFile(link_.SupportUrl("/Common/dbexpmss.dll"), library);
  } catch (const std::exception&) {
    // Best effort: the companion can be installed without it.
  }
  return true;
}

}  // namespace mvx
