#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "service/event_log.h"
#include "support/temp_dir.h"

namespace mvx {
namespace {

// Wine keeps no event log, so the entries are read back from the file-backed stand-in: they
// must arrive whole, in UTF-8, one line each, appended, and the echo still sees them.
TEST(SystemEventLog, EntriesReachTheStandInFile) {
  testing::TempDir dir;
  const std::wstring path = (dir.path() / "events.txt").wstring();
  ASSERT_TRUE(SetEnvironmentVariableW(L"MVX_EVENT_LOG_FILE", path.c_str()));
  std::vector<std::string> echoed;
  SystemEventLog log;
  log.SetEcho([&](std::string_view m) { echoed.emplace_back(m); });
  log.Error(kServiceName, "Service failed on start: 설정 파일을 읽을 수 없음");
  log.Error("MvxRazuRarevi.exe", "두 번째");
  SetEnvironmentVariableW(L"MVX_EVENT_LOG_FILE", nullptr);
  log.Error(kServiceName, "not copied once the variable is gone");

  EXPECT_EQ(dir.read("events.txt"),
            "fMvxBackupMain: Service failed on start: 설정 파일을 읽을 수 없음\r\n"
            "MvxRazuRarevi.exe: 두 번째\r\n");
  EXPECT_EQ(echoed.size(), 3u);
}

}  // namespace
}  // namespace mvx
