// Any text unscrambles without failing, and scrambling the result reads back the same bytes.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/scramble.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::string plain = mvx::UnscrambleValue(input);
  if (plain.size() != (size + 2) / 3) std::abort();
  if (mvx::UnscrambleValue(mvx::ScrambleValue(plain)) != plain) std::abort();
  return 0;
}
