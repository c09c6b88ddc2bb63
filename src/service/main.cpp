#include <string>
#include <vector>

#include "common/console_text.h"
#include "service/service_host.h"

int main(int argc, char** argv) {
  // Operator commands take names (databases, folders) that may be Korean.
  return mvx::RunServiceHost(mvx::Utf8Arguments(argc, argv));
}
