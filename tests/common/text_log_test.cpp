#include "common/text_log.h"

#include <gtest/gtest.h>

#include "common/profile_file.h"
#include "common/scramble.h"
#include "support/temp_dir.h"

namespace mvx {
namespace {

using testing::TempDir;

class TextLogTest : public ::testing::Test {
 protected:
  ProfileFile Log() const { return ProfileFile(dir.file("RazuRarevi.Log")); }
  std::vector<std::string> Messages() const {
    std::vector<std::string> out;
    const ProfileFile log = Log();
    for (const std::string& key : log.SectionKeys("RazuRarevi Log")) {
      out.push_back(log.ReadString("RazuRarevi Log", key));
    }
    return out;
  }
  void AddEntry(const std::string& key) {
    ProfileFile log = Log();
    log.WriteString("RazuRarevi Log", key, "old");
  }

  TempDir dir;
  ManualClock clock{LocalDateTime::Make(2024, 3, 15, 10, 0, 0, 0)};
  TextLog log{dir.dir(), clock};
};

TEST_F(TextLogTest, SuppressesOnlyAnImmediateRepeat) {
  clock.SetStepMilliseconds(1);
  for (const char* m : {"A", "A", "B", "A"}) log.WriteFileLog(m);
  EXPECT_EQ(Messages(), (std::vector<std::string>{"A", "B", "A"}));
  EXPECT_EQ(log.LastFileLogText(), "A");
  EXPECT_EQ(Log().SectionKeys("RazuRarevi Log").front(), "2024-03-15 10:00:00 000");
}

TEST_F(TextLogTest, SameMillisecondReplacesAndKoreanIsStoredAsCp949) {
  log.WriteFileLog("first");
  log.WriteFileLog("Database 접속실패!!!");
  EXPECT_EQ(Log().ReadString("RazuRarevi Log", "2024-03-15 10:00:00 000"),
            "Database \xC1\xA2\xBC\xD3\xBD\xC7\xC6\xD0!!!");
  EXPECT_EQ(Log().SectionKeys("RazuRarevi Log").size(), 1u);
}

TEST_F(TextLogTest, RefusedWriteRaisesAndKeepsLastText) {
  TextLog nowhere(dir.file("missing") + "/", clock);
  EXPECT_THROW(nowhere.WriteFileLog("x"), std::runtime_error);
  EXPECT_EQ(nowhere.LastFileLogText(), "");
  nowhere.ClearOldLogEntries("2024-03-15");  // must not escape
  nowhere.ResetLogFileByAge();
}

TEST_F(TextLogTest, ClearOldLogEntriesKeepsFourteenDays) {
  AddEntry("2024-02-29 23:59:59 999");  // 15 days back: goes
  AddEntry("2024-03-01 00:00:00 000");  // exactly 14 days back: stays
  AddEntry("2024-03-15 09:00:00 000");
  log.ClearOldLogEntries("2024-03-15");
  EXPECT_EQ(Log().SectionKeys("RazuRarevi Log"),
            (std::vector<std::string>{"2024-03-01 00:00:00 000", "2024-03-15 09:00:00 000"}));
  EXPECT_EQ(Log().ReadString("LogClear", "Date"), "2024-03-15");

  // Once a day only; a date in the future blocks it.
  AddEntry("2020-01-01 00:00:00 000");
  log.ClearOldLogEntries("2024-03-15");
  EXPECT_TRUE(Log().HasKey("RazuRarevi Log", "2020-01-01 00:00:00 000"));
  ProfileFile(dir.file("RazuRarevi.Log")).WriteString("LogClear", "Date", "2030-01-01");
  log.ClearOldLogEntries("2024-03-16");
  EXPECT_TRUE(Log().HasKey("RazuRarevi Log", "2020-01-01 00:00:00 000"));
}

TEST_F(TextLogTest, ClearOldLogEntriesLooksAtTheFirst682Keys) {
  for (int i = 0; i < 700; ++i) {
    char key[32];
    std::snprintf(key, sizeof key, "2024-01-01 00:%02d:%02d %03d", i / 60, i % 60, i);
    ProfileFile(dir.file("RazuRarevi.Log")).WriteString("RazuRarevi Log", key, "m");
  }
  log.ClearOldLogEntries("2024-03-15");
  EXPECT_EQ(Log().SectionKeys("RazuRarevi Log").size(), 18u);
}

TEST_F(TextLogTest, ClearOldLogEntriesOnAMissingFileCreatesItWithTheDate) {
  log.ClearOldLogEntries("2024-03-15");
  EXPECT_EQ(dir.read("RazuRarevi.Log"), "[LogClear]\r\nDate=2024-03-15\r\n");
}

TEST_F(TextLogTest, ResetLogFileByAge) {
  const std::string key = ScrambleValue("AutoBackPgmLog");
  auto recorded = [&] {
    return UnscrambleValue(ProfileFile(dir.file("RazuRarevi.ini")).ReadString("RazuRarevi", key));
  };
  // No date and no log file: nothing happens.
  log.ResetLogFileByAge();
  EXPECT_FALSE(dir.exists("RazuRarevi.ini"));

  struct Case {
    std::string lastDeletion;
    bool deleted;
  };
  const Case cases[] = {
      {"", true},             // never deleted: goes at once
      {"2024-02-14", false},  // exactly 30 days back stays
      {"2024-02-13", true},   // 31 days back goes
      {"2030-01-01", false},
  };
  for (const Case& c : cases) {
    dir.write("RazuRarevi.Log", "[RazuRarevi Log]\r\nk=v\r\n");
    ProfileFile(dir.file("RazuRarevi.ini"))
        .WriteString("RazuRarevi", key, ScrambleValue(c.lastDeletion));
    log.ResetLogFileByAge();
    EXPECT_EQ(!dir.exists("RazuRarevi.Log"), c.deleted) << c.lastDeletion;
    EXPECT_EQ(recorded(), c.deleted ? "2024-03-15" : c.lastDeletion);
  }
}

}  // namespace
}  // namespace mvx
