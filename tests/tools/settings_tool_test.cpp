#include "settings_tool.h"

#include <gtest/gtest.h>

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
            "KeyPartEligible=000000\n");
  EXPECT_FALSE(dir.exists("RazuRarevi.ini"));
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
  const Outcome shown = RunTool({"show", "--ini", ini}, "x");
  EXPECT_NE(shown.out.find("BackupDB2=QuendrilaxoMain\n"), std::string::npos);
  EXPECT_NE(shown.out.find("Password=********\n"), std::string::npos);
  EXPECT_NE(shown.out.find("KeyPartEligible=010000\n"), std::string::npos);
  EXPECT_NE(RunTool({"show", "--reveal", "--ini", ini}, "x").out.find("Password=s3cret\n"),
            std::string::npos);
  const Outcome missing = RunTool({"get", "DBServer", "Nope", "--ini", ini}, "x");
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
  const Outcome refused = RunTool({"set", "S", "K", "V", "--ini", dir.file("no/dir.ini")}, "x");
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("Unable to write to"), std::string::npos);
}

}  // namespace
}  // namespace mvx
