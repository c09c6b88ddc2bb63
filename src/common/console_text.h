#pragma once

#include <string>
#include <vector>

namespace mvx {

// The program's arguments (without the program name) as UTF-8, whatever the
// platform hands to main(); and a console that shows UTF-8 output as such.
std::vector<std::string> Utf8Arguments(int argc, char** argv);
void UseUtf8Console();

// UTF-8 output for as long as it lives; the console's code page as it was comes back at its
// end, so the operator's shell is left as it was found (Windows; nothing elsewhere).
class Utf8ConsoleScope {
 public:
  Utf8ConsoleScope();
  ~Utf8ConsoleScope();
  Utf8ConsoleScope(const Utf8ConsoleScope&) = delete;
  Utf8ConsoleScope& operator=(const Utf8ConsoleScope&) = delete;

 private:
  [[maybe_unused]] unsigned previous_ = 0;  // 0: nothing to restore (POSIX never has any)
};

}  // namespace mvx
