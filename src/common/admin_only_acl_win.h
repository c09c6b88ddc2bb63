#pragma once

// Security descriptors from their SDDL text, and the access that files holding the SQL login get
// on Windows. Only *_win.cpp files (and the installer's custom actions) include this.

#include <sddl.h>
#include <windows.h>

namespace mvx {

class SddlDescriptor {
 public:
  explicit SddlDescriptor(const wchar_t* sddl) {
    ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor_,
                                                         nullptr);
  }
  ~SddlDescriptor() {
    if (descriptor_ != nullptr) LocalFree(descriptor_);
  }
  SddlDescriptor(const SddlDescriptor&) = delete;
  SddlDescriptor& operator=(const SddlDescriptor&) = delete;

  PSECURITY_DESCRIPTOR get() const { return descriptor_; }
  // Null when the descriptor could not be built or holds no DACL.
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
};

// Full control for SYSTEM and the Administrators group, nobody else, nothing inherited from the
// folder.
class AdminOnlyAcl {
 public:
  AdminOnlyAcl() {
    attributes_.nLength = sizeof attributes_;
    attributes_.lpSecurityDescriptor = descriptor_.get();
    attributes_.bInheritHandle = FALSE;
  }
  AdminOnlyAcl(const AdminOnlyAcl&) = delete;
  AdminOnlyAcl& operator=(const AdminOnlyAcl&) = delete;

  // Null when the descriptor could not be built.
  SECURITY_ATTRIBUTES* attributes() {
    return descriptor_.get() != nullptr ? &attributes_ : nullptr;
  }
  PACL dacl() const { return descriptor_.dacl(); }

 private:
  SddlDescriptor descriptor_{L"D:P(A;;FA;;;SY)(A;;FA;;;BA)"};
  SECURITY_ATTRIBUTES attributes_{};
};

}  // namespace mvx
