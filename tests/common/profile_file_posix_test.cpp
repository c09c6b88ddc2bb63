#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <stdexcept>

#include "common/profile_file.h"
#include "support/temp_dir.h"

// File modes, a file-size limit and a socket in place of the file: POSIX-only ways to make
// the rewrite meet what a customer's disk can throw at it.
namespace mvx {
namespace {

using testing::TempDir;

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
