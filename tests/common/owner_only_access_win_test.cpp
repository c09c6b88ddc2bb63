#include <aclapi.h>
#include <sddl.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <regex>

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
  constexpr SECURITY_INFORMATION kWhat = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  char* text = nullptr;
  if (GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, kWhat, nullptr, nullptr, nullptr, nullptr,
                            &descriptor) != ERROR_SUCCESS ||
      !ConvertSecurityDescriptorToStringSecurityDescriptorA(descriptor, SDDL_REVISION_1, kWhat,
                                                            &text, nullptr)) {
    return "<unreadable>";
  }
  const std::string sddl = text;  // "O:<owner>D:<flags>(A;;FA;;;SY)(A;;FR;;;WD)..."
  LocalFree(text);
  LocalFree(descriptor);
  std::smatch owner;
  std::regex_search(sddl, owner, std::regex("^O:([^D]*)D:"));
  std::string grantees = sddl.find('(') == std::string::npos ? "<everyone>" : "";
  const std::regex allowed(R"(\(A;[^)]*;([^;)]+)\))");
  for (std::sregex_iterator ace(sddl.begin(), sddl.end(), allowed), end; ace != end; ++ace) {
    if ((*ace)[1] != owner[1]) grantees += (grantees.empty() ? "" : " ") + (*ace)[1].str();
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
