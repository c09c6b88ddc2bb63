#include <iostream>

#include "common/host_info.h"
#include "settings_tool.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return mvx::RunSettingsTool(args, std::cout, std::cerr, mvx::ExecutableDir() + "RazuRarevi.ini");
}
