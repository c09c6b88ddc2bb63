#include "common/profile_file.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <csignal>
#include <stdexcept>

#include "support/temp_dir.h"

namespace mvx {
namespace {

using testing::TempDir;

TEST(ProfileFile, ReadsLikeTheWindowsProfileFunctions) {
  TempDir dir;
  dir.write("a.ini",
            "\xEF\xBB\xBF[First]\r\n"
            "  Key1 =  value one  \r\n"
            "no equals sign here\n"
            "; a comment=ignored\n"
            "dup=first\n"
            "dup=second\n"
            "[ second ]\n"
            "[Empty]\n"
            "\n"
            "[first]\n"
            "later=not seen\n");
  const ProfileFile file(dir.file("a.ini"));
  struct Case {
    std::string section, key, expected;
  };
  const Case cases[] = {
      {"First", "Key1", "value one"},    {"FIRST", "key1", "value one"},
      {"first", "dup", "first"},         {"first", "later", "<default>"},
      {"first", "comment", "<default>"}, {"Second", "x", "<default>"},
      {"Missing", "Key1", "<default>"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(file.ReadString(c.section, c.key, "<default>"), c.expected)
        << c.section << "/" << c.key;
  }
  EXPECT_TRUE(file.SectionExists("first"));
  EXPECT_FALSE(file.SectionExists("Empty"));  // a section without entries reads as missing
  EXPECT_FALSE(file.SectionExists("second"));
  EXPECT_EQ(file.SectionKeys("First"),
            (std::vector<std::string>{"Key1", "no equals sign here", "dup", "dup"}));
}

TEST(ProfileFile, MissingEmptyAndBinaryFilesReadAsEmpty) {
  TempDir dir;
  dir.write("empty.ini", "");
  std::string binary;
  for (int i = 0; i < 4096; ++i) binary.push_back(static_cast<char>(i * 7));
  dir.write("binary.ini", binary);
  dir.write("long.ini", "[S]\nk=" + std::string(100000, 'x') + "\n");
  for (const char* name : {"missing.ini", "empty.ini", "binary.ini"}) {
    const ProfileFile file(dir.file(name));
    EXPECT_EQ(file.ReadString("S", "k", "d"), "d") << name;
  }
  EXPECT_EQ(ProfileFile(dir.file("long.ini")).ReadString("S", "k").size(),
            ProfileFile::kMaxValueLength);
}

TEST(ProfileFile, WritesInPlaceAppendsAndDeletes) {
  TempDir dir;
  ProfileFile file(dir.file("w.ini"));
  file.WriteString("A", "one", "1");
  file.WriteString("B", "x", "y");
  file.WriteString("a", "two", "2");    // appended at the end of section A
  file.WriteString("A", "ONE", "uno");  // replaced where it stands
  file.WriteString("A", "bad", "line\r\nbreak");
  EXPECT_EQ(dir.read("w.ini"), "[A]\r\nONE=uno\r\ntwo=2\r\nbad=line  break\r\n[B]\r\nx=y\r\n");
  file.DeleteKeys("A", {"two"});
  file.DeleteKeys("A", {"one", "missing"});
  EXPECT_EQ(dir.read("w.ini"), "[A]\r\nbad=line  break\r\n[B]\r\nx=y\r\n");
  EXPECT_EQ(dir.entryCount(), 1u);  // no temporary file left behind
}

TEST(ProfileFile, RewriteKeepsTheFilePermissions) {
  TempDir dir;
  auto mode = [&](const std::string& name) {
    struct stat info {};
    stat(dir.file(name).c_str(), &info);
    return info.st_mode & 07777;
  };
  ProfileFile fresh(dir.file("new.ini"));
  fresh.WriteString("S", "k", "v");
  EXPECT_EQ(mode("new.ini"), 0644u);
  dir.write("closed.ini", "[S]\r\nk=old\r\n");
  chmod(dir.file("closed.ini").c_str(), 0600);
  ProfileFile closed(dir.file("closed.ini"));
  closed.WriteString("S", "k", "new");
  EXPECT_EQ(mode("closed.ini"), 0600u);
  EXPECT_EQ(closed.ReadString("S", "k"), "new");
}

TEST(ProfileFile, KeyListTakesWhatFitsInTheBuffer) {
  TempDir dir;
  std::string text = "[Log]\r\n";
  for (int i = 0; i < 700; ++i) {
    char key[32];
    std::snprintf(key, sizeof key, "2024-01-01 00:%02d:%02d %03d", i / 60 % 60, i % 60, i);
    text += std::string(key) + "=m\r\n";
  }
  dir.write("log.ini", text);
  const ProfileFile file(dir.file("log.ini"));
  EXPECT_EQ(file.SectionKeys("Log").size(), 682u);  // 23-character keys, 24 bytes each
  EXPECT_EQ(file.SectionKeys("Log", 25).size(), 1u);
  EXPECT_EQ(file.SectionKeys("Log", 24).size(), 0u);
}

TEST(ProfileFile, RefusedWriteRaisesAndLeavesTheOldFileIntact) {
  TempDir dir;
  dir.write("keep.ini", "[S]\r\nk=old\r\n");
  ProfileFile file(dir.file("keep.ini"));
  // A file-size limit makes the write fail part-way, as a full disk would.
  rlimit old{};
  getrlimit(RLIMIT_FSIZE, &old);
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = old;
  small.rlim_cur = 64;
  setrlimit(RLIMIT_FSIZE, &small);
  EXPECT_THROW(
      {
        try {
          file.WriteString("S", "k", std::string(1000, 'n'));
        } catch (const std::runtime_error& e) {
          EXPECT_EQ(std::string(e.what()), "Unable to write to " + dir.file("keep.ini"));
          throw;
        }
      },
      std::runtime_error);
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(dir.read("keep.ini"), "[S]\r\nk=old\r\n");
  EXPECT_EQ(dir.entryCount(), 1u);

  ProfileFile nowhere(dir.file("no/such/folder.ini"));
  EXPECT_THROW(nowhere.WriteString("S", "k", "v"), std::runtime_error);
}

TEST(ProfileFile, AFileThatCannotBeReadIsNeverReplaced) {
  TempDir dir;
  // A socket cannot be opened for reading, but a rename would replace it: it stands in for
  // a file that is there but locked or unreadable at the moment it is read.
  const std::string path = dir.file("locked.ini");
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ProfileFile file(path);
  EXPECT_EQ(file.ReadString("S", "k", "d"), "d");
  EXPECT_THROW(file.WriteString("S", "k", "v"), std::runtime_error);
  struct stat info {};
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_TRUE(S_ISSOCK(info.st_mode));
  close(fd);
}

}  // namespace
}  // namespace mvx
