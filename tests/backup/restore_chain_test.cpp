#include "backup/restore_chain.h"

#include <gtest/gtest.h>

#include <sstream>

#include "support/temp_dir.h"

namespace mvx {
namespace {

TEST(RestoreChain, NewestFullThenNewestDifferentialSinceIt) {
  struct Case {
    const char* name;
    std::string files;  // separated by blanks
    std::string chain;  // "full differential"; empty: none
    std::string database = "Tl", until = "20240315";
  };
  const Case cases[] = {
      {"only a full; the agent's own extension wins a day", "Tl(20240308).trf Tl(20240308).ful",
       "Tl(20240308).ful "},
      {"full plus several differentials",
       "Tl(20240301).ful Tl(20240308).ful Tl(20240309).inc Tl(20240314).inc Tl(20240312).inc",
       "Tl(20240308).ful Tl(20240314).inc"},
      {"a differential older than the newest full, one of the full's day",
       "Tl(20240301).ful Tl(20240305).inc Tl(20240308).ful Tl(20240308).inc",
       "Tl(20240308).ful Tl(20240308).inc"},
      {".trf and .tri", "Tl(20240301).ful Tl(20240308).trf Tl(20240310).tri Tl(20240305).inc",
       "Tl(20240308).trf Tl(20240310).tri"},
      {"other databases' names, letter case ignored",
       "Foo(1)(20240314).ful Foo(1)(20240314).inc Foo2(20240314).ful Foo(20240301).ful "
       "FOO(20240302).inc Foo.ful Foo(2024).ful xFoo(20240314).ful",
       "Foo(20240301).ful FOO(20240302).inc", "foo"},
      {"a date in the past",
       "Tl(20240301).ful Tl(20240308).ful Tl(20240309).inc Tl(20240312).inc Tl(20240314).ful",
       "Tl(20240308).ful Tl(20240309).inc", "Tl", "20240310"},
      {"nothing found", "Tl(20240314).inc Tl(20240316).ful Tl.ful", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testing::TempDir dir;
    std::istringstream files(c.files);
    for (std::string file; files >> file;) dir.write(file, "backup");
    std::string folder = dir.dir();
    folder.pop_back();
    BackupFolderListing listing = BackupFolderListing::Read(folder);
    const std::optional<RestoreChain> chain = ChooseRestoreChain(listing, c.database, c.until);
    EXPECT_EQ(chain ? chain->full + " " + chain->differential : "", c.chain);
    if (chain) {
      EXPECT_EQ(chain->FullPath(), folder + "\\" + chain->full);
    }
  }
}

}  // namespace
}  // namespace mvx
