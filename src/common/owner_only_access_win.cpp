#include <aclapi.h>
#include <windows.h>

#include <exception>
#include <memory>

#include "common/atomic_file.h"
#include "common/owner_only_access.h"
#include "common/win_text.h"

namespace mvx {
namespace {

struct LocalFreer {
  void operator()(void* memory) const { LocalFree(memory); }
};

constexpr DWORD kReadRights = FILE_READ_DATA | GENERIC_READ | GENERIC_ALL | MAXIMUM_ALLOWED;

bool IsWellKnown(PSID sid, WELL_KNOWN_SID_TYPE type) { return IsWellKnownSid(sid, type) != 0; }

// Whether an allow entry lets someone beyond SYSTEM, the Administrators and the file's owner
// read the contents. The owner may rewrite the DACL at any time, so an entry of its own opens
// nothing more (Wine, which keeps no ACLs, always reports one).
bool OthersMayRead(PACL dacl, PSID owner) {
  if (dacl == nullptr) return true;  // no DACL at all: everyone has full access
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* entry = nullptr;
    if (!GetAce(dacl, i, &entry)) return true;
    const auto* header = static_cast<ACE_HEADER*>(entry);
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
    if ((allowed->Mask & kReadRights) == 0) continue;
    PSID sid = &allowed->SidStart;
    if (IsWellKnown(sid, WinLocalSystemSid) || IsWellKnown(sid, WinBuiltinAdministratorsSid) ||
        (owner != nullptr && EqualSid(sid, owner))) {
      continue;
    }
    return true;
  }
  return false;
}

}  // namespace

AccessNarrowing NarrowToOwnerOnly(const std::string& path) {
  const std::wstring wide = WideFromUtf8(path);
  // Nothing to narrow where no file is; a folder in its place fails the start on its own.
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return AccessNarrowing::Unchanged;
  }
  PSID owner = nullptr;
  PACL current = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoW(wide.c_str(), SE_FILE_OBJECT,
                            OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                            &current, nullptr, &descriptor) != ERROR_SUCCESS) {
    return AccessNarrowing::Failed;
  }
  const std::unique_ptr<void, LocalFreer> owned(descriptor);
  if (!OthersMayRead(current, owner)) return AccessNarrowing::Unchanged;
  // Rewritten as every settings write is: the same bytes in a file created with the narrow
  // DACL, renamed into place.
  std::string bytes;
  if (!ReadWholeFile(path, bytes)) return AccessNarrowing::Failed;
  try {
    WriteFileAtomically(path, bytes, NewFileAccess::OwnerOnly);
  } catch (const std::exception&) {
    return AccessNarrowing::Failed;
  }
  return AccessNarrowing::Narrowed;
}

}  // namespace mvx
