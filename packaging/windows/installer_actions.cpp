// The custom actions the installer carries in its Binary table (not installed):
//   CheckInstalledBuild  refuses a package older than the installed one by all four version
//                        numbers (Windows Installer compares only three);
//   InspectService       tells the sequence whether the service entry is there for this program
//                        and whether an administrator disabled it, so that an upgrade or repair
//                        keeps the entry as it is and never starts a disabled service;
//   StopAgent            stops the agent and waits for its process to end (the agent's stop may
//                        take 45 s, more than the installer's own wait);
//   RestrictInstallFolder gives the program folder the access the settings file has: SYSTEM and
//                        Administrators only for what the agent writes there, the programs
//                        readable and runnable by all users.
#include <aclapi.h>
#include <msi.h>
#include <msiquery.h>
#include <sddl.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "common/admin_only_acl_win.h"

namespace {

constexpr wchar_t kServiceName[] = L"fMvxBackupMain";
constexpr wchar_t kAgentFile[] = L"MvxRazuRarevi.exe";
constexpr ULONGLONG kStopLimitMs = 90 * 1000;

class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  ~Handle() {
    if (handle_ != nullptr) CloseHandle(handle_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

class ScHandle {
 public:
  explicit ScHandle(SC_HANDLE handle) : handle_(handle) {}
  ~ScHandle() {
    if (handle_ != nullptr) CloseServiceHandle(handle_);
  }
  ScHandle(const ScHandle&) = delete;
  ScHandle& operator=(const ScHandle&) = delete;
  SC_HANDLE get() const { return handle_; }

 private:
  SC_HANDLE handle_;
};

std::wstring Property(MSIHANDLE install, const wchar_t* name) {
  DWORD size = 0;
  wchar_t empty[1] = L"";
  if (MsiGetPropertyW(install, name, empty, &size) != ERROR_MORE_DATA) return {};
  std::wstring value(size + 1, L'\0');
  size = static_cast<DWORD>(value.size());
  if (MsiGetPropertyW(install, name, value.data(), &size) != ERROR_SUCCESS) return {};
  value.resize(size);
  return value;
}

// "1.2.3.4" as four numbers; missing fields count as 0.
std::vector<unsigned long> VersionFields(const std::wstring& text) {
  std::vector<unsigned long> fields(4, 0);
  std::size_t field = 0;
  for (wchar_t c : text) {
    if (c == L'.') {
      if (++field == fields.size()) break;
    } else if (c >= L'0' && c <= L'9') {
      fields[field] = fields[field] * 10 + static_cast<unsigned long>(c - L'0');
    } else {
      break;
    }
  }
  return fields;
}

bool Query(SC_HANDLE service, SERVICE_STATUS_PROCESS& status) {
  DWORD needed = 0;
  return QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                              sizeof status, &needed) != 0;
}

// The program path of an entry, without the quotes it may be stored in.
std::wstring Unquoted(std::wstring path) {
  if (path.size() >= 2 && path.front() == L'"' && path.back() == L'"') {
    path = path.substr(1, path.size() - 2);
  }
  return path;
}

std::wstring ProductInfo(const wchar_t* product, const wchar_t* name) {
  wchar_t value[256] = L"";
  DWORD size = 256;
  return MsiGetProductInfoW(product, name, value, &size) == ERROR_SUCCESS ? value : L"";
}

bool SameText(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

// The other installed versions of this product: those of its upgrade code, and those of its name
// (Wine's installer forgets the upgrade code of the new version when an upgrade removes the old).
std::vector<std::wstring> OtherVersions(MSIHANDLE install) {
  const std::wstring upgradeCode = Property(install, L"UpgradeCode");
  const std::wstring productCode = Property(install, L"ProductCode");
  const std::wstring productName = Property(install, L"ProductName");
  std::vector<std::wstring> related;
  wchar_t product[39];
  for (DWORD i = 0; MsiEnumRelatedProductsW(upgradeCode.c_str(), 0, i, product) == ERROR_SUCCESS;
       ++i) {
    if (!SameText(product, productCode)) related.emplace_back(product);
  }
  for (DWORD i = 0; MsiEnumProductsW(i, product) == ERROR_SUCCESS; ++i) {
    if (SameText(product, productCode) ||
        !SameText(ProductInfo(product, L"ProductName"), productName)) {
      continue;
    }
    bool known = false;
    for (const auto& code : related) known = known || SameText(code, product);
    if (!known) related.emplace_back(product);
  }
  return related;
}

}  // namespace

// Immediate, before the launch conditions: sets MVX_NEWER_BUILD to the installed version when
// another installed version is newer than this package by all four numbers, and
// MVX_OTHER_PRODUCT when another version is registered (so is the new version while an upgrade
// removes the old one).
extern "C" __declspec(dllexport) UINT __stdcall CheckInstalledBuild(MSIHANDLE install) {
  const auto ours = VersionFields(Property(install, L"ProductVersion"));
  for (const std::wstring& product : OtherVersions(install)) {
    MsiSetPropertyW(install, L"MVX_OTHER_PRODUCT", product.c_str());
    const std::wstring version = ProductInfo(product.c_str(), L"VersionString");
    if (VersionFields(version) > ours)
      MsiSetPropertyW(install, L"MVX_NEWER_BUILD", version.c_str());
  }
  return ERROR_SUCCESS;
}

// Immediate, after the folders are known: MVX_SERVICE_PRESENT when the entry runs the program of
// this installation, MVX_SERVICE_DISABLED when its start type is Disabled.
extern "C" __declspec(dllexport) UINT __stdcall InspectService(MSIHANDLE install) {
  ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (manager.get() == nullptr) return ERROR_SUCCESS;
  ScHandle service(OpenServiceW(manager.get(), kServiceName, SERVICE_QUERY_CONFIG));
  if (service.get() == nullptr) return ERROR_SUCCESS;
  DWORD needed = 0;
  QueryServiceConfigW(service.get(), nullptr, 0, &needed);
  std::vector<std::uint64_t> buffer(needed / sizeof(std::uint64_t) + 1);
  auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
  if (!QueryServiceConfigW(service.get(), config,
                           static_cast<DWORD>(buffer.size() * sizeof(std::uint64_t)), &needed)) {
    return ERROR_SUCCESS;
  }
  if (config->dwStartType == SERVICE_DISABLED) {
    MsiSetPropertyW(install, L"MVX_SERVICE_DISABLED", L"1");
  }
  const std::wstring program = Property(install, L"INSTALLDIR") + kAgentFile;
  if (config->lpBinaryPathName != nullptr &&
      CompareStringOrdinal(Unquoted(config->lpBinaryPathName).c_str(), -1, program.c_str(), -1,
                           TRUE) == CSTR_EQUAL) {
    MsiSetPropertyW(install, L"MVX_SERVICE_PRESENT", L"1");
  }
  return ERROR_SUCCESS;
}

// Deferred, before the installer's own stop: the process handle is taken while the service still
// names its process, then the stop is asked for (again while the service cannot take it yet, as
// during its start) until the service is stopped and the process has ended. A failure (which undoes
// the installation) when it still runs after 90 s.
extern "C" __declspec(dllexport) UINT __stdcall StopAgent(MSIHANDLE /*install*/) {
  const ULONGLONG deadline = GetTickCount64() + kStopLimitMs;
  ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (manager.get() == nullptr) return ERROR_SUCCESS;
  ScHandle service(OpenServiceW(manager.get(), kServiceName, SERVICE_QUERY_STATUS | SERVICE_STOP));
  SERVICE_STATUS_PROCESS status{};
  if (service.get() == nullptr || !Query(service.get(), status)) return ERROR_SUCCESS;
  if (status.dwCurrentState == SERVICE_STOPPED) return ERROR_SUCCESS;
  Handle process(status.dwProcessId != 0 ? OpenProcess(SYNCHRONIZE, FALSE, status.dwProcessId)
                                         : nullptr);
  while (status.dwCurrentState != SERVICE_STOPPED) {
    if (status.dwCurrentState != SERVICE_STOP_PENDING) {
      SERVICE_STATUS ignored{};
      ControlService(service.get(), SERVICE_CONTROL_STOP, &ignored);
    }
    if (GetTickCount64() >= deadline) return ERROR_INSTALL_FAILURE;
    Sleep(200);
    if (!Query(service.get(), status)) break;
  }
  if (process.get() == nullptr) return ERROR_SUCCESS;
  const ULONGLONG now = GetTickCount64();
  const DWORD left = now < deadline ? static_cast<DWORD>(deadline - now) : 0;
  return WaitForSingleObject(process.get(), left) == WAIT_OBJECT_0 ? ERROR_SUCCESS
                                                                   : ERROR_INSTALL_FAILURE;
}

// Deferred, after the files are in place; CustomActionData is the program folder. What the agent
// creates there (settings file, text log, downloads) inherits SYSTEM and Administrators only;
// users may list the folder and run the two programs.
extern "C" __declspec(dllexport) UINT __stdcall RestrictInstallFolder(MSIHANDLE install) {
  std::wstring folder = Property(install, L"CustomActionData");
  if (folder.empty()) return ERROR_INSTALL_FAILURE;
  if (folder.back() != L'\\') folder += L'\\';
  const mvx::SddlDescriptor folderAccess(L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;;0x1200a9;;;BU)");
  const mvx::SddlDescriptor programAccess(L"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;BU)");
  if (folderAccess.dacl() == nullptr || programAccess.dacl() == nullptr) {
    return ERROR_INSTALL_FAILURE;
  }
  constexpr SECURITY_INFORMATION kDacl =
      DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION;
  if (SetNamedSecurityInfoW(folder.data(), SE_FILE_OBJECT, kDacl, nullptr, nullptr,
                            folderAccess.dacl(), nullptr) != ERROR_SUCCESS) {
    return ERROR_INSTALL_FAILURE;
  }
  for (const wchar_t* program : {kAgentFile, L"MvxRazuSettings.exe"}) {
    std::wstring path = folder + program;
    if (SetNamedSecurityInfoW(path.data(), SE_FILE_OBJECT, kDacl, nullptr, nullptr,
                              programAccess.dacl(), nullptr) != ERROR_SUCCESS) {
      return ERROR_INSTALL_FAILURE;
    }
  }
  return ERROR_SUCCESS;
}
