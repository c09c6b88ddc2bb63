#include "common/profile_file.h"

#include <gtest/gtest.h>

#include <cstdio>
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

}  // namespace
}  // namespace mvx
