#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <stdexcept>

#include "backup/backup_cleanup_choice.h"
#include "backup/backup_file_name.h"
#include "backup_test_support.h"
#include "common/text_util.h"

namespace mvx::backuptest {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAreArray;

class BackupCleanupTest : public BackupTest {
 protected:
  std::string Deleted(const std::string& name) const {
    return "Old File Delete" + BackupFolder() + "\\" + name;
  }
  // The deletion messages as (database slot order, pattern order) blocks;
  // inside a block the order is the folder's own.
  std::vector<std::pair<std::string, std::vector<std::string>>> Blocks() const {
    std::vector<std::pair<std::string, std::vector<std::string>>> blocks;
    const std::string prefix = Deleted("");
    for (const LoggedMessage& m : logged) {
      EXPECT_EQ(m.database, "");
      EXPECT_EQ(m.message.rfind(prefix, 0), 0u) << m.message;
      const std::string name = m.message.substr(prefix.size());
      const std::string key = UpperAscii(name.substr(0, name.find('('))) + "/" +
                              std::to_string(BackupExtensionIndex(name));
      if (blocks.empty() || blocks.back().first != key) blocks.push_back({key, {}});
      blocks.back().second.push_back(name);
    }
    return blocks;
  }
};

TEST_F(BackupCleanupTest, FileNamesDecideWhatGoes) {
  struct Case {
    std::string name;
    bool deleted;
  };
  const std::vector<Case> cases = {
      {"TremoLandix(20240213).ful", true},   // the day before the cut-off of "4"
      {"TremoLandix(20240214).ful", false},  // the cut-off day itself stays
      {"TremoLandix(20240315).ful", false},
      {"TremoLandix2(20230101).ful", false},  // another database that begins alike
      {"TREMOLANDIX(20230101).inc", true},    // letter case of the name is ignored
      {"tremolandix(20230101).TRF", true},    // and of the extension
      {"TremoLandix(20230101).tri", true},
      {"TremoLandix(20240301).inc", false},  // the newest of each extension stays
      {"TremoLandix(20240301).trf", false},
      {"TremoLandix(20240302).tri", false},
      {"TremoLandix(2024).ful", false},  // no eight-digit date: nobody's backup
      {"TremoLandix().ful", false},
      {"TremoLandix(2023010x).ful", false},
      {"TremoLandix(202301011).ful", false},
      {"TremoLandix(1)(20230101).ful", false},  // a file of database "TremoLandix(1)"
      {"TremoLandix(20230101)x.ful", false},
      {"TremoLandix.ful", false},  // no "(": never a backup of anyone
      {"TremoLandix (20230101).ful", false},
      {"TremoLandix(20230101).bak", false},
      {"TremoLandix(20230101).ful.old", false},
      {"TremoLandix(20230101).ful.bad", true},  // set aside: the age alone decides
      {"TremoLandix(20230101).tri.BAD", true},
      {"TremoLandix(20240310).inc.bad", false},
      {"TremoLandix(2023).ful.bad", false},
      // Log backups go when older than the retention and the oldest full kept (20240214).
      {"TremoLandix(20240101-120000).trn", true},
      {"TremoLandix(20240213-235959).TRN", true},
      {"TremoLandix(20240214-000000).trn", false},
      {"TremoLandix(20240101-12000).trn", false},
  };
  for (const Case& c : cases) PutFile(c.name);
  std::filesystem::create_directory(backups.file("TremoLandix(20230102).ful"));
  // -plan's list of deletions for the same folder and date, taken before the cleanup runs.
  BackupFolderListing listing = BackupFolderListing::Read(BackupFolder());
  std::vector<std::string> planned;
  for (const CleanupPlanFile& file :
       PlanOldBackups(listing, {}, "4", "2024-03-15", "TremoLandix")) {
    if (file.verdict == CleanupVerdict::kDelete) planned.push_back(file.name);
  }

  engine.RemoveOldBackups("2024-03-15", "TremoLandix");

  std::vector<std::string> expectedMessages;
  for (const Case& c : cases) {
    EXPECT_EQ(backups.exists(c.name), !c.deleted) << c.name;
    if (c.deleted) expectedMessages.push_back(c.name);
  }
  EXPECT_TRUE(std::filesystem::is_directory(backups.file("TremoLandix(20230102).ful")));

  std::vector<std::string> seen;
  std::vector<int> patterns;
  for (const auto& [key, names] : Blocks()) {
    for (const std::string& name : names) {
      seen.push_back(name);
      const bool setAside = ParseSetAsideFileName(name).has_value();
      patterns.push_back(BackupExtensionIndex(setAside ? name.substr(0, name.size() - 4) : name));
    }
  }
  EXPECT_THAT(seen, UnorderedElementsAreArray(expectedMessages));
  EXPECT_THAT(planned, UnorderedElementsAreArray(expectedMessages));
  // *.ful, *.inc, *.trf, *.tri, then the log backups (-1)
  const auto logs = std::find(patterns.begin(), patterns.end(), -1);
  EXPECT_TRUE(std::is_sorted(patterns.begin(), logs));
  EXPECT_TRUE(std::all_of(logs, patterns.end(), [](int p) { return p == -1; }));
  EXPECT_THAT(reports.sent, IsEmpty());
}

// The date is the last parenthesised one, so a name may hold parentheses;
// however old, the newest file of a database and extension is its last good
// backup and stays.
TEST_F(BackupCleanupTest, NamesWithParenthesesAndTheNewestFile) {
  struct Case {
    std::string slot;
    std::vector<std::string> deleted;
  };
  for (const char* name :
       {"Foo(1)(20230101).ful", "Foo(1)(20230201).ful", "FOO(20230101).ful", "Foo(20230301).ful",
        "Foo(20230401).inc", "Foo(20220401).tri", "Foo(20220402).tri", "Foo(20230228-230000).trn",
        "Foo(20230301-000000).trn", "Foo(1)(20230101-000000).trn"}) {
    PutFile(name);
  }
  // The newest full is old, yet the log backups of its day and after stay: it needs them.
  for (const Case& c :
       {Case{"Foo", {"FOO(20230101).ful", "Foo(20220401).tri", "Foo(20230228-230000).trn"}},
        Case{"Foo(1)", {"Foo(1)(20230101).ful", "Foo(1)(20230101-000000).trn"}},
        Case{"Foo(", {}}}) {
    logged.clear();
    engine.RemoveOldBackups("2024-03-15", c.slot);
    std::vector<std::string> seen;
    for (const LoggedMessage& m : logged) seen.push_back(m.message);
    std::vector<std::string> expected;
    for (const std::string& name : c.deleted) expected.push_back(Deleted(name));
    EXPECT_THAT(seen, UnorderedElementsAreArray(expected)) << c.slot;
  }
  for (const char* name : {"Foo(1)(20230201).ful", "Foo(20230301).ful", "Foo(20230401).inc",
                           "Foo(20220402).tri", "Foo(20230301-000000).trn"}) {
    EXPECT_TRUE(backups.exists(name)) << name;
  }
  EXPECT_THAT(reports.sent, IsEmpty());
}

TEST(BackupRetentionTest, RetentionCodesSetTheCutOff) {
  struct Case {
    std::string save;
    std::string cutoff;  // empty: no cleanup at all
  };
  for (const Case& c : {Case{"", ""}, Case{"0", ""}, Case{"1", "20240308"}, Case{"2", "20240301"},
                        Case{"3", "20240223"}, Case{"4", "20240214"}, Case{"5", "20240115"},
                        Case{"6", "20231216"}, Case{"x", "20231216"}}) {
    const std::optional<int> days = RetentionDays(c.save);
    EXPECT_EQ(days.has_value(), !c.cutoff.empty()) << c.save;
    if (days) {
      EXPECT_EQ(CutoffStamp("2024-03-15", *days), c.cutoff) << c.save;
    }
  }
  EXPECT_EQ(CutoffStamp("2024-03-01", 1), "20240229");
}

TEST_F(BackupCleanupTest, ErrorsPassToTheCaller) {
  PutFile("TremoLandix(20230101).ful");
  EXPECT_THROW(engine.RemoveOldBackups("15.03.2024", "TremoLandix"), std::invalid_argument);

  settings.bkPath = BackupFolder() + "\\missing";
  EXPECT_THROW(engine.RemoveOldBackups("2024-03-15", "TremoLandix"), std::runtime_error);
  // Nothing to do means nothing to read.
  EXPECT_NO_THROW(engine.RemoveOldBackups("2024-03-15", ""));
  settings.save = "0";
  EXPECT_NO_THROW(engine.RemoveOldBackups("2024-03-15", "TremoLandix"));
  EXPECT_TRUE(backups.exists("TremoLandix(20230101).ful"));
  EXPECT_THAT(logged, IsEmpty());
}

// Files that vanish after the round read the folder cannot be deleted: no
// message for them and one "006" for the call, however many failed. That the
// round tries them at all shows that it read the folder only once.
TEST_F(BackupCleanupTest, FailedDeletionsGiveOneReportPerCall) {
  PutFile("TremoLandix(20230101).ful");
  PutFile("Other(20230101).ful");
  PutFile("Other(20230102).inc");
  PutFile("Other(20230103).tri");
  for (const char* newest : {"TremoLandix(20240315).ful", "Other(20240315).ful",
                             "Other(20240315).inc", "Other(20240315).tri"}) {
    PutFile(newest);
  }

  CleanupRound round = engine.BeginCleanupRound();
  round.RemoveOldBackups("2024-03-15", "TremoLandix");
  std::filesystem::remove(backups.file("Other(20230101).ful"));
  std::filesystem::remove(backups.file("Other(20230102).inc"));
  round.RemoveOldBackups("2024-03-15", "Other");

  EXPECT_THAT(logged, ElementsAre(LoggedMessage{"", Deleted("TremoLandix(20230101).ful")},
                                  LoggedMessage{"", Deleted("Other(20230103).tri")}));
  EXPECT_THAT(reports.sent, ElementsAre(Sent("Other", "006")));
}

// The same folder cleaned by one round and by a fresh search per call gives
// the same deletions in the same order.
TEST_F(BackupCleanupTest, OneRoundActsLikeASearchPerCall) {
  settings.databases = {"TremoLandix", "", "Other", "TREMOLANDIX", "Third", "Other"};
  const std::vector<std::string> names = {
      "TremoLandix(20230101).ful", "Other(20230101).inc",       "Third(20230105).tri",
      "tremolandix(20230102).ful", "Other(20230101).ful",       "Third(20240315).ful",
      "TremoLandix(20230103).trf", "TREMOLANDIX(20230104).inc", "Other(20240314).trf",
      "Fourth(20230101).ful",      "TremoLandix(20240315).inc", "TremoLandix(20240315).trf",
      "Other(20240315).ful",       "Other(20240315).inc",       "Third(20240315).tri",
      "Fourth(20240315).ful"};

  auto run = [&](bool oneRound) {
    for (const std::string& name : names) PutFile(name);
    logged.clear();
    CleanupRound round = engine.BeginCleanupRound();
    for (const std::string& slot : settings.databases) {
      oneRound ? round.RemoveOldBackups("2024-03-15", slot)
               : engine.RemoveOldBackups("2024-03-15", slot);
    }
    return Blocks();
  };
  const auto perCall = run(false);
  const auto shared = run(true);

  ASSERT_EQ(shared.size(), perCall.size());
  for (std::size_t i = 0; i < shared.size(); ++i) {
    EXPECT_EQ(shared[i].first, perCall[i].first);
    EXPECT_THAT(shared[i].second, UnorderedElementsAreArray(perCall[i].second));
  }
  std::vector<std::string> order;
  for (const auto& block : shared) order.push_back(block.first);
  EXPECT_THAT(order, ElementsAre("TREMOLANDIX/0", "TREMOLANDIX/1", "TREMOLANDIX/2", "OTHER/0",
                                 "OTHER/1", "THIRD/3"));
  // The second slot of a name finds its files gone, not failed.
  EXPECT_THAT(reports.sent, IsEmpty());
  EXPECT_TRUE(backups.exists("Fourth(20230101).ful"));
}

TEST_F(BackupCleanupTest, ABackupPassMakesTheRoundReadTheFolderAgain) {
  CleanupRound round = engine.BeginCleanupRound();
  round.RemoveOldBackups("2024-03-15", "TremoLandix");
  engine.RunDifferentialBackups("2024-03-15");
  PutFile("TremoLandix(20240315).inc");  // as if the pass had written it
  PutFile("TremoLandix(20230101).inc");
  round.RemoveOldBackups("2024-03-15", "TremoLandix");
  EXPECT_FALSE(backups.exists("TremoLandix(20230101).inc"));
}

}  // namespace
}  // namespace mvx::backuptest
