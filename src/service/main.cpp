#include <string>
#include <vector>

#include "service/service_host.h"

int main(int argc, char** argv) {
  return mvx::RunServiceHost(std::vector<std::string>(argv + 1, argv + argc));
}
