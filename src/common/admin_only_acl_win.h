#pragma once

// The access that files holding the SQL login get on Windows: full control for SYSTEM and the
// Administrators group, nobody else, nothing inherited from the folder. Only *_win.cpp files
// include this.

#include <sddl.h>
#include <windows.h>

namespace mvx {

class AdminOnlyAcl {
 public:
  AdminOnlyAcl() {
    ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;FA;;;SY)(A;;FA;;;BA)",
                                                         SDDL_REVISION_1, &descriptor_, nullptr);
    attributes_.nLength = sizeof attributes_;
    attributes_.lpSecurityDescriptor = descriptor_;
    attributes_.bInheritHandle = FALSE;
  }
  ~AdminOnlyAcl() {
    if (descriptor_ != nullptr) LocalFree(descriptor_);
  }
  AdminOnlyAcl(const AdminOnlyAcl&) = delete;
  AdminOnlyAcl& operator=(const AdminOnlyAcl&) = delete;

  // Null when the descriptor could not be built.
  SECURITY_ATTRIBUTES* attributes() { return descriptor_ != nullptr ? &attributes_ : nullptr; }
  PACL dacl() const {
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    if (descriptor_ == nullptr ||
        !GetSecurityDescriptorDacl(descriptor_, &present, &dacl, &defaulted) || !present) {
      return nullptr;
    }
    return dacl;
  }

 private:
  PSECURITY_DESCRIPTOR descriptor_ = nullptr;
  SECURITY_ATTRIBUTES attributes_{};
};

}  // namespace mvx
