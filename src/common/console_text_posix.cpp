#include "common/console_text.h"

namespace mvx {

// POSIX terminals and arguments are UTF-8 already.
std::vector<std::string> Utf8Arguments(int argc, char** argv) {
  return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

void UseUtf8Console() {}

Utf8ConsoleScope::Utf8ConsoleScope() = default;
Utf8ConsoleScope::~Utf8ConsoleScope() = default;

}  // namespace mvx
