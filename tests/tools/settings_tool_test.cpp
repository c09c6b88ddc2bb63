#include "settings_tool.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "support/temp_dir.h"

namespace mvx {
namespace {

using testing::TempDir;

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

Outcome RunTool(const std::vector<std::string>& args, const std::string& defaultIni) {
  std::ostringstream out, err;
  const int status = RunSettingsTool(args, out, err, defaultIni);
  return {status, out.str(), err.str()};
}

TEST(SettingsTool, ShowOnAMissingFilePrintsTheDefaults) {
  TempDir dir;
  const Outcome o = RunTool({"show"}, dir.file("RazuRarevi.ini"));
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out,
            "Name=(Local)\nID=quendr\nPassword=********\nBackupDB1=TremoLandix\nBackupDB2=\n"
            "BackupDB3=\nBackupDB4=\nBackupDB5=\nBackupDB6=\nDBPath=\nBKPath=D:\\Data_Backup\n"
            "FullType=2\nFullDay1=금\nFullDay2=\nFullDay3=\nFullTime=17:00\nIncType=2\n"
            "IncBDay1=월\nIncBDay2=화\nIncBDay3=수\nIncBDay4=목\nIncBDay5=토\nIncBDay6=일\n"
            "IncBTime=17:00\nTimerInt=1800\nKeyWeek=화\nKeyTime=01:00\nSave=4\n"
            "Verify=0\nLogBackup=0\nKeyPartEligible=000000\n");
  EXPECT_NE(o.err.find("built-in defaults"), std::string::npos);
  EXPECT_FALSE(dir.exists("RazuRarevi.ini"));
}

// Setting one key of a section that the agent does not load yet changes
// only that key of what it loads (and DBPath, which has no empty form there).
TEST(SettingsTool, SetIntoANewSectionKeepsTheOtherDefaults) {
  struct Case {
    std::string section, key, value;
    std::vector<std::string> changed;  // lines of `show` that differ, after the set
  };
  const Case cases[] = {
      {"RazuRarevi", "FullTime", "18:30", {"FullTime=18:30"}},
      {"RazuRarevi", "Verify", "1", {"Verify=1"}},
      {"RazuRarevi", "LogBackup", "15", {"LogBackup=15"}},
      {"DBServer", "BackupDB2", "Other", {"BackupDB2=Other", "DBPath=C:\\"}},
  };
  for (const Case& c : cases) {
    TempDir dir;
    const std::string ini = dir.file("RazuRarevi.ini");
    // What the log deletion leaves on a machine running on the defaults.
    EXPECT_EQ(RunTool({"set", "RazuRarevi", "AutoBackPgmLog", "2024-03-15"}, ini).status, 0);
    const std::string before = RunTool({"show"}, ini).out;
    EXPECT_EQ(RunTool({"set", c.section, c.key, c.value}, ini).status, 0);
    std::istringstream lines(RunTool({"show"}, ini).out), old(before);
    std::vector<std::string> changed;
    for (std::string line, was; std::getline(lines, line) && std::getline(old, was);) {
      if (line != was) changed.push_back(line);
    }
    EXPECT_EQ(changed, c.changed) << c.key;
  }
}

TEST(SettingsTool, RefusesWhatTheAgentCouldNotReadBack) {
  TempDir dir;
  const std::string ini = dir.file("RazuRarevi.ini");
  EXPECT_EQ(RunTool({"set", "DBServer", "Name", "sql01"}, ini).status, 0);
  const std::string bytes = dir.read("RazuRarevi.ini");
  struct Case {
    std::vector<std::string> args;
    std::string reason;
  };
  const Case cases[] = {
      {{"set", "DBServer", "BackupDb2", "x"}, "did you mean BackupDB2?"},
      {{"set", "dbserver", "Name", "x"}, "did you mean [DBServer]?"},
      {{"set", "DBServer", "Nmae", "x"}, "unknown key Nmae"},
      {{"get", "RazuRarevi", "Name"}, "unknown key Name"},
      {{"set", "DBServer", "Name", "\xF0\x9F\x98\x80"}, "CP949"},
      {{"set", "DBServer", "Name", std::string(683, 'a')}, "683 bytes"},
      {{"set", "DBServer", "Name", std::string(681, 'a') + "가"}, "at most 682"},
      {{"set", "DBServer", "cfgType", " 1"}, "read back"},
      {{"set", "RazuRarevi", "Verify", "yes"}, "0 (off) or 1 (on)"},
      {{"set", "RazuRarevi", "LogBackup", "4"}, "minutes from 5 to 1440"},
      {{"set", "RazuRarevi", "LogBackup", ""}, "minutes from 5 to 1440"},
  };
  for (const Case& c : cases) {
    const Outcome o = RunTool(c.args, ini);
    EXPECT_EQ(o.status, 2) << c.reason;
    EXPECT_NE(o.err.find(c.reason), std::string::npos) << o.err;
  }
  EXPECT_EQ(RunTool({"set", "DBServer", "Name", std::string(680, 'a') + "가"}, ini).status, 0);
  EXPECT_NE(dir.read("RazuRarevi.ini"), bytes);

  std::filesystem::remove(ini);
  std::filesystem::create_directory(ini);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"show"}, {"get", "DBServer", "Name"}}) {
    const Outcome o = RunTool(args, ini);
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.err.find("Unable to read " + ini), std::string::npos) << o.err;
  }
}

TEST(SettingsTool, SetGetAndShowAgree) {
  TempDir dir;
  const std::string ini = dir.file("other.ini");
  EXPECT_EQ(RunTool({"set", "DBServer", "BackupDB2", "QuendrilaxoMain", "--ini", ini}, "x").status,
            0);
  EXPECT_EQ(RunTool({"set", "DBServer", "Password", "s3cret", "--ini", ini}, "x").status, 0);
  EXPECT_EQ(RunTool({"set", "DBServer", "cfgType", "7", "--ini", ini}, "x").status, 0);
  EXPECT_EQ(RunTool({"set", "RazuRarevi", "FullDay1", "목", "--ini", ini}, "x").status, 0);
  EXPECT_EQ(RunTool({"get", "DBServer", "BackupDB2", "--ini", ini}, "x").out, "QuendrilaxoMain\n");
  EXPECT_EQ(RunTool({"get", "DBServer", "cfgType", "--ini", ini}, "x").out, "7\n");
  EXPECT_EQ(RunTool({"get", "RazuRarevi", "FullDay1", "--ini", ini}, "x").out, "목\n");
  EXPECT_EQ(RunTool({"get", "DBServer", "Password", "--ini", ini}, "x").out, "********\n");
  EXPECT_EQ(RunTool({"get", "DBServer", "Password", "--ini", ini, "--reveal"}, "x").out,
            "s3cret\n");
  const Outcome shown = RunTool({"show", "--ini", ini}, "x");
  EXPECT_NE(shown.out.find("BackupDB2=QuendrilaxoMain\n"), std::string::npos);
  EXPECT_NE(shown.out.find("Password=********\n"), std::string::npos);
  EXPECT_NE(shown.out.find("KeyPartEligible=010000\n"), std::string::npos);
  EXPECT_NE(RunTool({"show", "--reveal", "--ini", ini}, "x").out.find("Password=s3cret\n"),
            std::string::npos);
  const Outcome missing = RunTool({"get", "RazuRarevi", "AutoBackPgmLog", "--ini", ini}, "x");
  EXPECT_NE(missing.status, 0);
  EXPECT_FALSE(missing.err.empty());
}

TEST(SettingsTool, ScrambleAndUnscramble) {
  EXPECT_EQ(RunTool({"scramble", "금"}, "x").out, "236175\n");
  EXPECT_EQ(RunTool({"unscramble", "236175"}, "x").out, "금\n");
  EXPECT_EQ(RunTool({"unscramble", "12"}, "x").status, 0);
}

TEST(SettingsTool, BadUseFailsClearly) {
  TempDir dir;
  const std::vector<std::vector<std::string>> bad = {
      {}, {"frobnicate"}, {"get", "DBServer"}, {"set", "a", "b"}, {"show", "--ini"}};
  for (const auto& args : bad) {
    const Outcome o = RunTool(args, dir.file("RazuRarevi.ini"));
    EXPECT_NE(o.status, 0);
    EXPECT_NE(o.err.find("usage"), std::string::npos);
  }
  const Outcome refused =
      RunTool({"set", "DBServer", "Name", "V", "--ini", dir.file("no/dir.ini")}, "x");
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("Unable to write to"), std::string::npos);
}

}  // namespace
}  // namespace mvx
