#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace mvx {

// Text a caller uses like an address when the sockets library can't start.
inline constexpr std::string_view kSocketsStartError = "WSOCK32.DLL Error(WinSock 1.1+)";

// Dotted IPv4 address of a name or dotted address, empty when not found.
std::string ResolveHostAddress(std::string_view host);
// NetBIOS-style computer name: empty when the system can't give one in 15 characters.
std::string ReadComputerName();
// major.minor.release.build of the running program.
std::string ReadFileVersion();
// Total free bytes of the volume that holds the path, 0 when the query fails.
std::uint64_t GetFreeDiskBytes(std::string_view path);
// Full path of the running executable; empty when the system cannot tell.
std::string ExecutablePath();
// Folder of the running executable with a trailing separator.
std::string ExecutableDir();
// File name of the running executable: the event source of the program's own failures.
std::string ExecutableFileName();
// Turns a path written with "\" separators into the platform's form.
std::string NativePath(std::string_view path);

}  // namespace mvx
