// winsock2.h must come before windows.h.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <vector>

#include "common/host_info.h"
#include "common/win_text.h"

namespace mvx {
namespace {

// Starts and releases the sockets library around one resolution.
class WinsockSession {
 public:
  WinsockSession() : ok_(WSAStartup(MAKEWORD(1, 1), &data_) == 0) {}
  ~WinsockSession() {
    if (ok_) WSACleanup();
  }
  WinsockSession(const WinsockSession&) = delete;
  WinsockSession& operator=(const WinsockSession&) = delete;
  bool ok() const { return ok_; }

 private:
  WSADATA data_{};
  bool ok_;
};

}  // namespace

std::string ResolveHostAddress(std::string_view host) {
  WinsockSession session;
  if (!session.ok()) return std::string(kSocketsStartError);
  const std::string name(host);
  in_addr literal{};
  char text[INET_ADDRSTRLEN] = {};
  if (inet_pton(AF_INET, name.c_str(), &literal) == 1) {
    inet_ntop(AF_INET, &literal, text, sizeof text);
    return text;
  }
  if (name.empty()) return {};
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) return {};
  const auto* address = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
  inet_ntop(AF_INET, &address->sin_addr, text, sizeof text);
  freeaddrinfo(found);
  return text;
}

std::string ReadComputerName() {
  wchar_t buffer[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
  if (!GetComputerNameW(buffer, &size)) return {};
  std::string name = Utf8FromWide(std::wstring_view(buffer, size));
  while (!name.empty() && name.back() == ' ') name.pop_back();
  return name;
}

std::string ReadFileVersion() {
  const std::wstring path = WideFromUtf8(ExecutablePath());
  if (path.empty()) return "0.0.0.0";
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
  if (size == 0) return "0.0.0.0";
  std::vector<char> data(size);
  if (!GetFileVersionInfoW(path.c_str(), 0, size, data.data())) return "0.0.0.0";
  VS_FIXEDFILEINFO* info = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &length) ||
      info == nullptr || length < sizeof(VS_FIXEDFILEINFO)) {
    return "0.0.0.0";
  }
  return std::to_string(HIWORD(info->dwFileVersionMS)) + "." +
         std::to_string(LOWORD(info->dwFileVersionMS)) + "." +
         std::to_string(HIWORD(info->dwFileVersionLS)) + "." +
         std::to_string(LOWORD(info->dwFileVersionLS));
}

std::uint64_t GetFreeDiskBytes(std::string_view path) {
  ULARGE_INTEGER available{}, total{}, totalFree{};
  const std::wstring root = WideFromUtf8(path);
  if (root.empty() || !GetDiskFreeSpaceExW(root.c_str(), &available, &total, &totalFree)) return 0;
  return totalFree.QuadPart;
}

std::string ExecutablePath() {
  // Long enough for any path the system can hand out.
  std::wstring path(32768, L'\0');
  const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  return n > 0 && n < path.size() ? Utf8FromWide(std::wstring_view(path.data(), n)) : std::string();
}

std::string ExecutableDir() {
  const std::string path = ExecutablePath();
  if (path.empty()) return ".\\";
  return path.substr(0, path.find_last_of("\\/") + 1);
}

std::string ExecutableFileName() {
  const std::string path = ExecutablePath();
  return path.substr(path.find_last_of("\\/") + 1);
}

std::string NativePath(std::string_view path) { return std::string(path); }

}  // namespace mvx
