#include <gtest/gtest.h>

#include <atomic>

#include "common/clock.h"
#include "companion/companion_installer.h"
#include "support/fake_service_control.h"
#include "support/http/loopback_http_server.h"
#include "vendorlink/link_test_support.h"

namespace mvx {
namespace {

using testing::HttpReply;
using Lines = std::vector<std::string>;

const std::string kProgram = "GET /RazuRarevi/Mvx_RidOdadez.exe HTTP/1.1";
const std::string kLibrary = "GET /Common/dbexpmss.dll HTTP/1.1";

// One check against the loopback support server, which serves or refuses the program.
struct Check {
  int state, install, start;
  bool served = true, libraryThere = false, writable = true, stopped = false;

  tErrState Run(Lines& downloads, Lines& logged) {
    testing::FakeServiceControl control;
    testing::TempDir exe;
    if (libraryThere) exe.write("dbexpmss.dll", "old");
    testing::LoopbackHttpServer http("127.0.0.2");
    http.Enqueue(served ? HttpReply(200, "OK", "program") : HttpReply(404, "Not Found", ""));
    ManualClock clock(LocalDateTime::Make(2026, 3, 6, 14, 0));
    TextLog textLog(exe.dir(), clock);
    testing::FakePinger pinger;
    const std::atomic<bool> stop{stopped};
    TdMFunc link(clock, textLog, {"127.0.0.2", "127.0.0.3", http.Port()}, pinger, &stop);
    control.state = state;
    control.installResult = install;
    control.startResult = start;
    const std::string dir = writable ? exe.dir() : exe.file("missing") + "/";
    const tErrState result = CompanionInstaller(control, link, dir, [&](std::string_view m) {
                               logged.emplace_back(m);
                             }).CompanionCheck();
    for (const std::string& r : http.Requests()) downloads.push_back(r.substr(0, r.find('\r')));
    const bool installs = state == -1 && served && writable && !stopped;
    Lines calls{"query RidOdadezMain"};
    if (installs)
      calls.push_back("install RidOdadezMain | Morvex SetRazuRarevi | " + dir +
                      "Mvx_RidOdadez.exe");
    if ((installs && install == 0) || state > 0) calls.push_back("start RidOdadezMain");
    EXPECT_EQ(control.calls, calls);
    EXPECT_EQ(exe.read("Mvx_RidOdadez.exe"), installs ? "program" : "");
    return result;
  }
};

TEST(CompanionInstaller, EveryOutcomeOfTheCheck) {
  const Lines both{kProgram, kLibrary}, program{kProgram}, none;
  const std::tuple<Check, std::string, std::string, Lines> cases[] = {
      // Missing: download, install and start (column A).
      {{-1, 0, 0}, "RidOdadez Start", "00", both},
      {{-1, 0, 0, true, true}, "RidOdadez Start", "00", program},
      {{-1, 0, 0, false}, "RidOdadez DownLoad실패로 Install 할 수 없음", "01", program},
      {{-1, 1, 0, true, true}, "RidOdadez 입력값Err-->설치실패", "13", program},
      {{-1, 2, 0, true, true}, "RidOdadez 서비스관리자OpenX-->설치실패", "12", program},
      {{-1, 3, 0, true, true}, "RidOdadez 설치실패", "02", program},
      {{-1, 0, 1, true, true}, "RidOdadez Install-->Start실패", "03", program},
      {{-1, 0, 2, true, true}, "RidOdadez Install-->서비스를 재계할 상태가 아님", "30", program},
      {{-1, 0, -1, true, true}, "RidOdadez Install-->서비스가 존재하지 않음", "31", program},
      {{-1, 0, -2, true, true}, "RidOdadez Install-->SCM 접속할 수 없음", "14", program},
      {{-1, 0, -3, true, true}, "RidOdadez Install-->서비스관리자Open못함", "11", program},
      {{-1, 0, -4, true, true}, "RidOdadez StopX-->상태쿼리실패-->Start실패", "29", program},
      {{-1, 0, 0, true, false, false}, "", "", none},  // the program can't be written: silent
      // Installed: start or resume (column C).
      {{1, 0, 0}, "RidOdadez Start", "00", none},
      {{2, 0, 0}, "RidOdadez Start", "00", none},
      {{1, 0, 1}, "RidOdadez Start실패", "03", none},
      {{3, 0, 2}, "RidOdadez 서비스를 재계할 상태가 아님", "30", none},
      {{4, 0, -1}, "RidOdadez 서비스가 존재하지 않음", "31", none},
      {{1, 0, -2}, "RidOdadez SCM 접속할 수 없음", "14", none},
      {{1, 0, -3}, "RidOdadez SCM Open못함", "26", none},
      {{6, 0, -4}, "RidOdadez 상태쿼리실패-->Start실패", "29", none},
      // Running, or its state unknown: nothing is started.
      {{0, 0, 0}, "", "00", none},
      {{-2, 0, 0}, "RidOdadez 서비스관리자를 열수 없음", "14", none},
      {{-3, 0, 0}, "RidOdadez 알수없는 에러", "28", none},
      {{-4, 0, 0}, "RidOdadez 상태쿼리실패", "28", none},
      // Cut short by a stop: the outcome is not known, and nothing is written; a success is.
      {{-1, 0, 0, true, false, true, true}, "", "", none},
      {{1, 0, 1, true, false, true, true}, "", "", none},
      {{1, 0, 0, true, false, true, true}, "RidOdadez Start", "00", none},
  };
  for (auto [check, message, code, downloads] : cases) {
    const std::string row = message + "/" + std::to_string(check.state);
    Lines made, logged;
    EXPECT_EQ(check.Run(made, logged), (tErrState{message, code, ""})) << row;
    EXPECT_EQ(made, downloads) << row;
    EXPECT_EQ(logged, message.empty() ? none : Lines{message}) << row;
  }
}

}  // namespace
}  // namespace mvx
