#include <aclapi.h>
#include <sddl.h>
#include <windows.h>

#include <gtest/gtest.h>

#include "common/owner_only_access.h"
#include "common/profile_file.h"
#include "support/temp_dir.h"

// The settings file holds the SQL login: whoever else may read it is read back from the file's
// own DACL, as an administrator's "icacls" would show it.
namespace mvx {
namespace {

using testing::TempDir;

// Who the DACL lets read or change the file, beside its owner (who may rewrite the DACL anyway;
// Wine, which keeps no ACLs, reports one from the file mode), as SDDL trustees: "SY BA".
std::string Grantees(const std::string& path) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT,
                            OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr,
                            nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
    return "<unreadable>";
  }
  char* text = nullptr;
  ConvertSecurityDescriptorToStringSecurityDescriptorA(
      descriptor, SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text,
      nullptr);
  const std::string sddl = text != nullptr ? text : "";
  LocalFree(text);
  LocalFree(descriptor);
  // "O:<owner>D:<flags>(A;;FA;;;SY)(A;;FR;;;WD)..."
  const std::size_t dacl = sddl.find("D:");
  if (sddl.rfind("O:", 0) != 0 || dacl == std::string::npos) return "<no DACL: " + sddl + ">";
  const std::string owner = sddl.substr(2, dacl - 2);
  if (sddl.find('(', dacl) == std::string::npos) return "<everyone: " + sddl + ">";
  std::string grantees;
  for (std::size_t open = sddl.find('(', dacl); open != std::string::npos;
       open = sddl.find('(', open + 1)) {
    const std::size_t close = sddl.find(')', open);
    const std::string ace = sddl.substr(open + 1, close - open - 1);
    const std::string trustee = ace.substr(ace.rfind(';') + 1);
    if (ace.rfind("A;", 0) != 0 || trustee == owner) continue;
    grantees += (grantees.empty() ? "" : " ") + trustee;
  }
  return grantees;
}

void Grant(const std::string& path, const char* sddl) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1,
                                                                   &descriptor, nullptr));
  ASSERT_TRUE(SetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, descriptor));
  LocalFree(descriptor);
}

TEST(OwnerOnlyAccess, SettingsWritesAndTheStartLeaveOnlySystemAndAdministrators) {
  TempDir dir;
  struct Case {
    const char* name;
    const char* before;  // DACL planted first; nullptr: the file does not exist
    bool written;        // an owner-only write after the planting
    AccessNarrowing narrowing;
  };
  const Case cases[] = {
      {"new.ini", nullptr, true, AccessNarrowing::Unchanged},
      {"readable-rewritten.ini", "D:(A;;FR;;;WD)(A;;FA;;;SY)", true, AccessNarrowing::Unchanged},
      {"readable-at-start.ini", "D:(A;;FR;;;WD)(A;;FA;;;SY)", false, AccessNarrowing::Narrowed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.file(c.name);
    if (c.before != nullptr) {
      dir.write(c.name, "[DBServer]\r\n");
      Grant(path, c.before);
      EXPECT_NE(Grantees(path).find_first_of("WU"), std::string::npos) << Grantees(path);
    }
    if (c.written) ProfileFile(path, NewFileAccess::OwnerOnly).WriteString("DBServer", "ID", "x");
    EXPECT_EQ(NarrowToOwnerOnly(path), c.narrowing);
    const std::string grantees = Grantees(path);
    EXPECT_TRUE(grantees == "SY BA" || grantees == "SY") << grantees;
    EXPECT_EQ(dir.read(c.name).substr(0, 10), "[DBServer]");
    EXPECT_EQ(NarrowToOwnerOnly(path), AccessNarrowing::Unchanged);
  }
}

}  // namespace
}  // namespace mvx
