#pragma once

#include <string>
#include <vector>

namespace mvx {

// The program's arguments (without the program name) as UTF-8, whatever the
// platform hands to main(); and a console that shows UTF-8 output as such.
std::vector<std::string> Utf8Arguments(int argc, char** argv);
void UseUtf8Console();

}  // namespace mvx
