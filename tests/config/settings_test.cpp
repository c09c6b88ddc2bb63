#include "config/settings.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <stdexcept>

#include "common/ansi_codec.h"
#include "common/profile_file.h"
#include "common/scramble.h"
#include "common/text_util.h"
#include "support/temp_dir.h"

namespace mvx {
namespace {

using testing::TempDir;

const std::string kDefaultPassword = ScrambleValue("087142203019176054231");

class SettingsTest : public ::testing::Test {
 protected:
  void Put(const std::string& section, const std::string& key, const std::string& value) {
    ProfileFile(ini()).WriteString(section, ScrambleValue(key), ScrambleValue(ToAnsi(value)));
  }
  Settings Load() {
    Settings s;
    ClearSettings(s);
    LoadSettings(s, ini());
    return s;
  }
  std::string ini() const { return dir.file("RazuRarevi.ini"); }

  TempDir dir;
};

TEST_F(SettingsTest, MissingFileGivesWholeSectionDefaults) {
  const Settings s = Load();
  EXPECT_EQ(s.serverName, "(Local)");
  EXPECT_EQ(s.login, "quendr");
  EXPECT_EQ(s.password, kDefaultPassword);
  EXPECT_EQ(s.databases, (std::array<std::string, 6>{"TremoLandix", "", "", "", "", ""}));
  EXPECT_EQ(s.dbPath, "");
  EXPECT_EQ(s.bkPath, "D:\\Data_Backup");
  EXPECT_EQ(s.fullType, "2");
  EXPECT_EQ(s.fullDays, (std::array<std::string, 3>{"금", "", ""}));
  EXPECT_EQ(s.fullTime, "17:00");
  EXPECT_EQ(s.incType, "2");
  EXPECT_EQ(s.incDays, (std::array<std::string, 6>{"월", "화", "수", "목", "토", "일"}));
  EXPECT_EQ(s.incTime, "17:00");
  EXPECT_EQ(s.timerInt, 1800);
  EXPECT_EQ(s.keyWeek, "화");
  EXPECT_EQ(s.keyTime, "01:00");
  EXPECT_EQ(s.save, "4");
  EXPECT_EQ(s.connectionDatabase, "TremoLandix");
  EXPECT_FALSE(dir.exists("RazuRarevi.ini"));  // reading never creates the file
}

TEST_F(SettingsTest, PresentSectionsUseEntryDefaults) {
  Put("DBServer", "Name", "sql01\\inst");
  Put("DBServer", "BackupDB2", "");  // empty entry: its default
  Put("RazuRarevi", "FullType", "1");
  const Settings s = Load();
  EXPECT_EQ(s.cfgType, "2");
  EXPECT_EQ(s.serverName, "sql01\\inst");
  EXPECT_EQ(s.login, "quendr");
  EXPECT_EQ(s.password, kDefaultPassword);
  EXPECT_EQ(s.databases[0], "TremoLandix");
  EXPECT_EQ(s.databases[1], "");
  EXPECT_EQ(s.dbPath, "C:\\");
  EXPECT_EQ(s.bkPath, "");
  EXPECT_EQ(s.fullType, "1");
  EXPECT_EQ(s.fullDays[0], "");
  EXPECT_EQ(s.fullTime, "");
  EXPECT_EQ(s.incType, "");
  EXPECT_EQ(s.timerInt, 1800);
  EXPECT_EQ(s.keyWeek, "화");
  EXPECT_EQ(s.keyTime, "01:00");
  EXPECT_EQ(s.save, "3");
}

TEST_F(SettingsTest, ValuesAreNotTrimmedAndKoreanSurvives) {
  Put("DBServer", "BackupDB1", " 금고DB ");
  Put("RazuRarevi", "FullDay1", "금");
  const Settings s = Load();
  EXPECT_EQ(s.databases[0], " 금고DB ");
  EXPECT_EQ(s.connectionDatabase, " 금고DB ");
  EXPECT_EQ(s.fullDays[0], "금");
}

TEST_F(SettingsTest, TimerIntParsesOrFallsBack) {
  struct Case {
    std::string stored;
    int expected;
  };
  const Case cases[] = {{"600", 600}, {"499", 499},  {"-5", -5},
                        {"", 1800},   {"abc", 1800}, {"99999999999", 1800}};
  for (const Case& c : cases) {
    Put("RazuRarevi", "TimerInt", c.stored);
    EXPECT_EQ(Load().timerInt, c.expected) << c.stored;
  }
  // A hand-written, never scrambled value unscrambles to something else and falls back.
  ProfileFile(ini()).WriteString("RazuRarevi", ScrambleValue("TimerInt"), "60");
  EXPECT_EQ(Load().timerInt, 1800);
}

TEST_F(SettingsTest, SundayKeyWeekIsCorrectedInTheFile) {
  Put("RazuRarevi", "KeyWeek", "일");
  EXPECT_EQ(Load().keyWeek, "화");
  EXPECT_EQ(FromAnsi(UnscrambleValue(
                ProfileFile(ini()).ReadString("RazuRarevi", ScrambleValue("KeyWeek")))),
            "화");
  Put("RazuRarevi", "KeyWeek", "수");
  EXPECT_EQ(Load().keyWeek, "수");

  // A read-only view never writes.
  Put("RazuRarevi", "KeyWeek", "일");
  Settings s;
  ClearSettings(s);
  LoadSettings(s, ini(), /*correctFile=*/false);
  EXPECT_EQ(s.keyWeek, "화");
  EXPECT_EQ(FromAnsi(UnscrambleValue(
                ProfileFile(ini()).ReadString("RazuRarevi", ScrambleValue("KeyWeek")))),
            "일");
}

TEST_F(SettingsTest, SaveMissingOrEmpty) {
  Put("RazuRarevi", "BKPath", "D:\\B");
  EXPECT_EQ(Load().save, "3");
  Put("RazuRarevi", "Save", "");
  EXPECT_EQ(Load().save, "");
  Put("RazuRarevi", "Save", "5");
  EXPECT_EQ(Load().save, "5");
}

TEST_F(SettingsTest, KeyPartEligibility) {
  struct Case {
    std::string name;
    bool eligible;
  };
  const Case cases[] = {{"QUENDRILAXO", true},   {"quendrilaxo_2024", true},
                        {"ZoltMarken", true},    {"ZOLTMARKENABC", true},
                        {"xQUENDRILAXO", false}, {"QUENDRILAX", false},
                        {"Brivellon", false},    {"", false}};
  for (const Case& c : cases) EXPECT_EQ(KeyPartEligible(c.name), c.eligible) << c.name;
  Put("DBServer", "BackupDB3", "zoltmarken1");
  const Settings s = Load();
  EXPECT_EQ(s.keyPartEligible, (std::array<bool, 6>{false, false, true, false, false, false}));
}

TEST_F(SettingsTest, DamagedFilesGiveDefaults) {
  const std::string damaged[] = {
      "",
      std::string("\0\xFF\x01[\n=\n", 7),
      "\xEF\xBB\xBF[DBServer]\r\n",
      "[DBServer]\n" + ScrambleValue("Name") + "=12a45\n[DBServer]\nzzz",
      std::string(200000, '['),
  };
  for (const std::string& bytes : damaged) {
    dir.write("RazuRarevi.ini", bytes);
    const Settings s = Load();
    EXPECT_FALSE(s.login.empty());
    EXPECT_EQ(s.timerInt, 1800);
  }
}

// A section counts only with a key that loading reads: the log deletion date
// alone must not cancel every schedule default.
TEST_F(SettingsTest, SectionsWithoutALoadedKeyGiveWholeSectionDefaults) {
  struct Case {
    std::string section, key;
    std::string bkPath, dbPath;
  };
  const Case cases[] = {
      {"RazuRarevi", "AutoBackPgmLog", "D:\\Data_Backup", ""},
      {"RazuRarevi", "Verify", "D:\\Data_Backup", ""},
      {"RazuRarevi", "LogBackup", "D:\\Data_Backup", ""},
      {"DBServer", "Unknown", "D:\\Data_Backup", ""},
      {"RazuRarevi", "Save", "", ""},
      {"DBServer", "cfgType", "D:\\Data_Backup", "C:\\"},
  };
  for (const Case& c : cases) {
    std::filesystem::remove(ini());
    Put(c.section, c.key, "2024-03-15");
    const Settings s = Load();
    EXPECT_EQ(s.bkPath, c.bkPath) << c.key;
    EXPECT_EQ(s.dbPath, c.dbPath) << c.key;
  }
}

// Only "1" turns verification on: whatever else a hand-edited file holds keeps the
// historical statements.
TEST_F(SettingsTest, VerifyIsOnOnlyForOne) {
  EXPECT_FALSE(Load().verify);
  for (const std::string value : {"1", "", "0", " 1", "2", "yes"}) {
    Put("RazuRarevi", "Verify", value);
    EXPECT_EQ(Load().verify, value == "1") << value;
  }
}

// Log backups run only for an interval the tool accepts; anything else keeps the full pass.
TEST_F(SettingsTest, LogBackupIsOnOnlyForFiveToADayOfMinutes) {
  EXPECT_EQ(Load().logBackupMinutes, 0);
  for (const auto& [value, minutes] : std::map<std::string, int>{
           {"5", 5}, {"1440", 1440}, {"", 0}, {"4", 0}, {"1441", 0}, {"015", 0}, {" 15", 0}}) {
    Put("RazuRarevi", "LogBackup", value);
    EXPECT_EQ(Load().logBackupMinutes, minutes) << value;
  }
}

TEST_F(SettingsTest, AnExistingFileThatCannotBeReadFailsTheStart) {
  std::filesystem::create_directory(ini());
  Settings s;
  try {
    LoadSettings(s, ini());
    ADD_FAILURE() << "no error";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()), "Unable to read " + ini());
  }
}

TEST_F(SettingsTest, DbServerSectionIsRewrittenTrimmedAndScrambled) {
  Settings s = Load();
  s.serverName = "  sql01 ";
  s.databases[2] = "Brivellon";
  s.dbPath = "D";
  WriteDbServerSection(s, ini());
  const ProfileFile file(ini());
  const std::vector<std::string> keys = file.SectionKeys("DBServer");
  std::vector<std::string> plainKeys;
  for (const std::string& k : keys) plainKeys.push_back(UnscrambleValue(k));
  EXPECT_EQ(plainKeys, (std::vector<std::string>{"cfgType", "Name", "ID", "Password", "BackupDB1",
                                                 "BackupDB2", "BackupDB3", "BackupDB4", "BackupDB5",
                                                 "BackupDB6", "DBPath"}));
  EXPECT_EQ(file.ReadString("DBServer", ScrambleValue("cfgType")), "1");
  const Settings again = Load();
  EXPECT_EQ(again.serverName, "sql01");
  EXPECT_EQ(again.password, kDefaultPassword);  // the password in use reads back the same
  EXPECT_EQ(again.databases[2], "Brivellon");
  EXPECT_EQ(again.dbPath, "D");
  EXPECT_EQ(again.cfgType, "1");

  // Bytes that are no CP949 text (typed on another code page) come back as
  // they were, trimmed only.
  for (const std::string& raw : {std::string("pa\xFFss\x80"), std::string(" \xA1\x80x\t")}) {
    ProfileFile(ini()).WriteString("DBServer", ScrambleValue("Password"), ScrambleValue(raw));
    WriteDbServerSection(Load(), ini());
    EXPECT_EQ(UnscrambleValue(ProfileFile(ini()).ReadString("DBServer", ScrambleValue("Password"))),
              TrimControls(raw));
  }
}

}  // namespace
}  // namespace mvx
