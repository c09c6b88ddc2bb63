#include <gtest/gtest.h>

#include <filesystem>

#include "common/clock.h"
#include "common/text_log.h"
#include "companion/companion_installer.h"
#include "support/fake_service_control.h"
#include "support/http/loopback_http_server.h"
#include "vendorlink/link_test_support.h"

namespace mvx {
namespace {

using testing::FakePinger;
using testing::HttpReply;
using testing::LoopbackHttpServer;
using testing::TempDir;

const char kProgramGet[] = "GET /RazuRarevi/Mvx_RidOdadez.exe HTTP/1.1";
const char kLibraryGet[] = "GET /Common/dbexpmss.dll HTTP/1.1";

TEST(CompanionInstaller, EveryOutcomeOfTheCheck) {
  struct Case {
    int state;
    bool programServed;
    bool libraryPresent;
    int installResult;
    int startResult;
    tErrState expected;
    std::vector<std::string> downloads;
  };
  const std::vector<std::string> both{kProgramGet, kLibraryGet};
  const std::vector<std::string> program{kProgramGet};
  const std::vector<std::string> none;
  const Case cases[] = {
      // Missing: download, install, start; column A of the start outcomes.
      {-1, true, false, 0, 0, {"RidOdadez Start", "00", ""}, both},
      {-1, true, true, 0, 0, {"RidOdadez Start", "00", ""}, program},
      {-1, false, false, 0, 0, {"RidOdadez DownLoad실패로 Install 할 수 없음", "01", ""}, program},
      {-1, true, true, 1, 0, {"RidOdadez 입력값Err-->설치실패", "13", ""}, program},
      {-1, true, true, 2, 0, {"RidOdadez 서비스관리자OpenX-->설치실패", "12", ""}, program},
      {-1, true, true, 3, 0, {"RidOdadez 설치실패", "02", ""}, program},
      {-1, true, true, 0, 1, {"RidOdadez Install-->Start실패", "03", ""}, program},
      {-1,
       true,
       true,
       0,
       2,
       {"RidOdadez Install-->서비스를 재계할 상태가 아님", "30", ""},
       program},
      {-1, true, true, 0, -1, {"RidOdadez Install-->서비스가 존재하지 않음", "31", ""}, program},
      {-1, true, true, 0, -2, {"RidOdadez Install-->SCM 접속할 수 없음", "14", ""}, program},
      {-1, true, true, 0, -3, {"RidOdadez Install-->서비스관리자Open못함", "11", ""}, program},
      {-1, true, true, 0, -4, {"RidOdadez StopX-->상태쿼리실패-->Start실패", "29", ""}, program},
      // Installed: start or resume; column C.
      {1, true, false, 0, 0, {"RidOdadez Start", "00", ""}, none},
      {2, true, false, 0, 0, {"RidOdadez Start", "00", ""}, none},
      {1, true, false, 0, 1, {"RidOdadez Start실패", "03", ""}, none},
      {3, true, false, 0, 2, {"RidOdadez 서비스를 재계할 상태가 아님", "30", ""}, none},
      {4, true, false, 0, -1, {"RidOdadez 서비스가 존재하지 않음", "31", ""}, none},
      {1, true, false, 0, -2, {"RidOdadez SCM 접속할 수 없음", "14", ""}, none},
      {1, true, false, 0, -3, {"RidOdadez SCM Open못함", "26", ""}, none},
      {6, true, false, 0, -4, {"RidOdadez 상태쿼리실패-->Start실패", "29", ""}, none},
      // Running, or the state could not be read: no start.
      {0, true, false, 0, 0, {"", "00", ""}, none},
      {-2, true, false, 0, 0, {"RidOdadez 서비스관리자를 열수 없음", "14", ""}, none},
      {-3, true, false, 0, 0, {"RidOdadez 알수없는 에러", "28", ""}, none},
      {-4, true, false, 0, 0, {"RidOdadez 상태쿼리실패", "28", ""}, none},
  };
  for (const Case& c : cases) {
    const std::string row = std::to_string(c.state) + "/" + std::to_string(c.installResult) + "/" +
                            std::to_string(c.startResult);
    TempDir exe;
    exe.write("Mvx_RidOdadez.exe", "old program");
    if (c.libraryPresent) exe.write("dbexpmss.dll", "old library");
    LoopbackHttpServer http("127.0.0.2");
    http.Enqueue(c.programServed ? HttpReply(200, "OK", "new program")
                                 : HttpReply(404, "Not Found", ""));
    http.Enqueue(HttpReply(200, "OK", "new library"));
    ManualClock clock(LocalDateTime::Make(2026, 3, 6, 14, 0));
    TextLog textLog(exe.dir(), clock);
    LinkEndpoints endpoints{"127.0.0.2", "127.0.0.3", http.Port()};
    FakePinger pinger;
    TdMFunc link(clock, textLog, endpoints, pinger);
    testing::FakeServiceControl control;
    control.state = c.state;
    control.installResult = c.installResult;
    control.startResult = c.startResult;
    std::vector<std::string> logged;

    CompanionInstaller installer(control, link, exe.dir(),
                                 [&](std::string_view m) { logged.emplace_back(m); });
    EXPECT_EQ(installer.CompanionCheck(), c.expected) << row;

    std::vector<std::string> requestLines;
    for (const std::string& request : http.Requests()) {
      requestLines.push_back(request.substr(0, request.find("\r\n")));
    }
    EXPECT_EQ(requestLines, c.downloads) << row;
    EXPECT_EQ(logged,
              c.expected.message.empty() ? none : std::vector<std::string>{c.expected.message})
        << row;
    // A failed download leaves the old program as it was; a complete one replaces it.
    EXPECT_EQ(exe.read("Mvx_RidOdadez.exe"),
              c.downloads.empty() || !c.programServed ? "old program" : "new program")
        << row;
    if (c.downloads == both) {
      EXPECT_EQ(exe.read("dbexpmss.dll"), "new library");
    }
    const bool installs = c.state == -1 && c.programServed;
    EXPECT_EQ(std::count(control.calls.begin(), control.calls.end(),
                         "install RidOdadezMain | Morvex SetRazuRarevi | " + exe.dir() +
                             "Mvx_RidOdadez.exe"),
              installs ? 1 : 0)
        << row;
  }
}

TEST(CompanionInstaller, ErrorDuringSetUpGivesNoMessage) {
  // The program cannot be written where it belongs: the set-up raises inside and says nothing.
  TempDir exe;
  LoopbackHttpServer http("127.0.0.2");
  http.Enqueue(HttpReply(200, "OK", "new program"));
  ManualClock clock(LocalDateTime::Make(2026, 3, 6, 14, 0));
  TextLog textLog(exe.dir(), clock);
  FakePinger pinger;
  TdMFunc link(clock, textLog, {"127.0.0.2", "127.0.0.3", http.Port()}, pinger);
  testing::FakeServiceControl control;
  control.state = kServiceNotOpened;
  std::vector<std::string> logged;
  CompanionInstaller installer(control, link, exe.file("missing") + "/",
                               [&](std::string_view m) { logged.emplace_back(m); });
  EXPECT_EQ(installer.CompanionCheck(), tErrState{});
  EXPECT_TRUE(logged.empty());
  EXPECT_EQ(control.calls, std::vector<std::string>{"query RidOdadezMain"});
}

}  // namespace
}  // namespace mvx
