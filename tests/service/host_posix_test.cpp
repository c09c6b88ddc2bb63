#include <gtest/gtest.h>

#include <sstream>

#include "common/host_info.h"
#include "service/command_line.h"
#include "service/service_installer.h"
#include "support/temp_dir.h"

namespace mvx {
namespace {

using testing::TempDir;

TEST(CommandLine, SwitchesWithDashOrSlashInAnyCase) {
  struct Case {
    std::vector<std::string> args;
    bool install, uninstall, silent, console;
    std::size_t unknown;
  };
  const Case cases[] = {
      {{"/install", "/silent"}, true, false, true, false, 0},
      {{"-UNINSTALL"}, false, true, false, false, 0},
      {{"-Console"}, false, false, false, true, 0},
      {{"install", "--install", "-x"}, false, false, false, false, 3},
      {{}, false, false, false, false, 0},
  };
  for (const Case& c : cases) {
    const CommandLine line = ParseCommandLine(c.args);
    EXPECT_EQ(line.install, c.install);
    EXPECT_EQ(line.uninstall, c.uninstall);
    EXPECT_EQ(line.silent, c.silent);
    EXPECT_EQ(line.console, c.console);
    EXPECT_EQ(line.unknown.size(), c.unknown);
  }
  // An operator command takes every later word as its own, switches included.
  const CommandLine restore = ParseCommandLine({"/Restore-Test", "Db1", "-install"});
  EXPECT_EQ(restore.operatorCommand, OperatorCommand::kRestoreTest);
  EXPECT_EQ(restore.operatorArgs, (std::vector<std::string>{"Db1", "-install"}));
  EXPECT_FALSE(restore.install);
}

// Help and version answer at once; anything not understood starts nothing.
TEST(CommandLine, HelpVersionAndUnknownSwitchesAnswerWithoutStarting) {
  struct Case {
    std::vector<std::string> args;
    std::optional<int> status;
    std::string out, err;  // a part of each
  };
  const Case cases[] = {
      {{"-help"}, 0, "-console    run in the foreground", ""},
      {{"--HELP"}, 0, "usage: MvxRazuRarevi", ""},
      {{"/?"}, 0, "-version", ""},
      {{"--version"}, 0, "MvxRazuRarevi " + ReadFileVersion() + "\n", ""},
      {{"-install", "-x"}, 2, "", "unknown switch -x\nusage:"},
      {{"-console", "--console"}, 2, "", "unknown switch --console"},
      {{"-console"}, std::nullopt, "", ""},
      {{"/install", "/silent"}, std::nullopt, "", ""},
      {{"-check", "--json"}, std::nullopt, "", ""},
      {{"-install", "-check"}, 2, "", "operator command goes first and alone"},
      {{"-silent", "-check"}, std::nullopt, "", ""},
      {{"-plan", "-x", "/restore"}, std::nullopt, "", ""},
  };
  for (const Case& c : cases) {
    std::ostringstream out, err;
    EXPECT_EQ(AnswerCommandLine(ParseCommandLine(c.args), out, err), c.status) << c.args[0];
    for (const auto& [text, part] : {std::pair{out.str(), c.out}, std::pair{err.str(), c.err}}) {
      EXPECT_TRUE(part.empty() ? text.empty() : text.find(part) != std::string::npos) << text;
    }
  }
}

TEST(Installer, WritesAndRemovesTheSystemdUnit) {
  TempDir root;
  InstallTarget target{"/opt/mvx/MvxRazuRarevi", root.dir(), false, root.file("packaged")};
  const InstallOutcome installed = InstallService(target);
  ASSERT_TRUE(installed.ok) << installed.error;
  EXPECT_EQ(InstallMessage(true, installed), "Service installed successfully");
  const std::string unit = root.read("fMvxBackupMain.service");
  EXPECT_NE(unit.find("Description=Morvex Razu Rarevi\n"), std::string::npos);
  EXPECT_NE(unit.find("ExecStart=\"/opt/mvx/MvxRazuRarevi\"\n"), std::string::npos);
  EXPECT_NE(unit.find("User=root\n"), std::string::npos);
  // A start that waits minutes for an unreachable database server is not killed.
  EXPECT_NE(unit.find("TimeoutStartSec=infinity\n"), std::string::npos);
  // A stop ends on its own within its bounds; systemd's is only the last resort.
  EXPECT_NE(unit.find("TimeoutStopSec=60\n"), std::string::npos);
  EXPECT_NE(unit.find("WantedBy=multi-user.target\n"), std::string::npos);

  const InstallOutcome removed = UninstallService(target);
  EXPECT_TRUE(removed.ok);
  EXPECT_EQ(InstallMessage(false, removed), "Service uninstalled successfully");
  EXPECT_FALSE(root.exists("fMvxBackupMain.service"));

  const InstallOutcome again = UninstallService(target);
  EXPECT_FALSE(again.ok);
  EXPECT_EQ(
      InstallMessage(false, again),
      "Service \"Morvex Razu Rarevi\" failed to uninstall with error: \"" + again.error + "\"");
  InstallTarget nowhere{"/x", root.file("missing/dir"), false, {}};
  const InstallOutcome failed = InstallService(nowhere);
  EXPECT_FALSE(failed.ok);
  EXPECT_EQ(
      InstallMessage(true, failed).rfind("Service \"Morvex Razu Rarevi\" failed to install", 0),
      0u);

  // Beside the package's unit: -install's own shadowed it, and the package's unit stays.
  std::filesystem::create_directory(root.file("packaged"));
  root.write("packaged/fMvxBackupMain.service", "[Unit]\n");
  ASSERT_TRUE(InstallService(target).ok);
  const std::string both = InstallMessage(false, UninstallService(target));
  EXPECT_NE(both.find("Removed " + root.dir() + "/fMvxBackupMain.service; the package's unit"),
            std::string::npos)
      << both;
  const std::string packagedOnly = InstallMessage(false, UninstallService(target));
  EXPECT_NE(packagedOnly.find("The service is disabled; its unit " +
                              root.file("packaged/fMvxBackupMain.service") + " belongs"),
            std::string::npos)
      << packagedOnly;
  EXPECT_TRUE(root.exists("packaged/fMvxBackupMain.service"));
}

TEST(Installer, ExecStartKeepsEveryPathAsItIs) {
  struct Case {
    std::string path, execStart;
  };
  const Case cases[] = {
      {"/opt/my tools/MvxRazuRarevi", "ExecStart=\"/opt/my tools/MvxRazuRarevi\"\n"},
      {"/opt/100%/MvxRazuRarevi", "ExecStart=\"/opt/100%%/MvxRazuRarevi\"\n"},
      {"/opt/%d/MvxRazuRarevi", "ExecStart=\"/opt/%%d/MvxRazuRarevi\"\n"},
      {"/opt/$HOME/MvxRazuRarevi", "ExecStart=\"/opt/$HOME/MvxRazuRarevi\"\n"},
      {"/opt/a\\b\"c/MvxRazuRarevi", "ExecStart=\"/opt/a\\\\b\\\"c/MvxRazuRarevi\"\n"},
  };
  for (const Case& c : cases) {
    TempDir root;
    ASSERT_TRUE(InstallService({c.path, root.dir(), false, {}}).ok);
    EXPECT_NE(root.read("fMvxBackupMain.service").find(c.execStart), std::string::npos) << c.path;
  }
}

}  // namespace
}  // namespace mvx
