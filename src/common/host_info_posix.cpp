#include <arpa/inet.h>
#include <netdb.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <climits>
#include <memory>

#include "common/host_info.h"
#include "common/text_util.h"

#ifndef MVX_FILE_VERSION
#define MVX_FILE_VERSION "0.0.0.0"
#endif

namespace mvx {

std::string ResolveHostAddress(std::string_view host) {
  const std::string name(host);
  in_addr literal{};
  if (inet_pton(AF_INET, name.c_str(), &literal) == 1) {
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &literal, text, sizeof text);
    return text;
  }
  if (name.empty()) return {};
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) return {};
  std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> owner(found, &freeaddrinfo);
  char text[INET_ADDRSTRLEN] = {};
  const auto* address = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
  inet_ntop(AF_INET, &address->sin_addr, text, sizeof text);
  return text;
}

std::string ReadComputerName() {
  char buffer[HOST_NAME_MAX + 1] = {};
  if (gethostname(buffer, sizeof buffer - 1) != 0) return {};
  std::string name(buffer);
  name = name.substr(0, name.find('.'));
  if (name.size() > 15) return {};
  while (!name.empty() && name.back() == ' ') name.pop_back();
  return UpperAscii(name);
}

std::string ReadFileVersion() { return MVX_FILE_VERSION; }

std::uint64_t GetFreeDiskBytes(std::string_view path) {
  struct statvfs info {};
  const std::string native = NativePath(path);
  if (native.empty() || statvfs(native.c_str(), &info) != 0) return 0;
  return static_cast<std::uint64_t>(info.f_bfree) * info.f_frsize;
}

std::string ExecutablePath() {
  char buffer[PATH_MAX + 1] = {};
  const ssize_t n = readlink("/proc/self/exe", buffer, PATH_MAX);
  return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

std::string ExecutableDir() {
  const std::string path = ExecutablePath();
  if (path.empty()) return "./";
  return path.substr(0, path.rfind('/') + 1);
}

std::string ExecutableFileName() {
  const std::string path = ExecutablePath();
  return path.substr(path.rfind('/') + 1);
}

std::string NativePath(std::string_view path) {
  std::string out(path);
  for (char& c : out) {
    if (c == '\\') c = '/';
  }
  return out;
}

}  // namespace mvx
