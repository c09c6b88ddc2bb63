#include <iostream>

#include "common/console_text.h"
#include "common/host_info.h"
#include "settings_tool.h"

int main(int argc, char** argv) {
  mvx::UseUtf8Console();
  const std::vector<std::string> args = mvx::Utf8Arguments(argc, argv);
  return mvx::RunSettingsTool(args, std::cout, std::cerr, mvx::ExecutableDir() + "RazuRarevi.ini");
}
