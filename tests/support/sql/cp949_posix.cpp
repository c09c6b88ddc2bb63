#include <iconv.h>

#include <stdexcept>

#include "support/sql/tds_wire.h"

namespace mvx::testing::tds {

std::string utf8ToCp949(std::string_view text) {
  const iconv_t cd = iconv_open("CP949", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) throw std::invalid_argument("no CP949 converter");
  std::string out(text.size() * 2 + 1, '\0');
  char* in = const_cast<char*>(text.data());
  std::size_t inLeft = text.size();
  char* at = out.data();
  std::size_t outLeft = out.size();
  const std::size_t rc = iconv(cd, &in, &inLeft, &at, &outLeft);
  iconv_close(cd);
  if (rc == static_cast<std::size_t>(-1) || inLeft != 0) {
    throw std::invalid_argument("VarChar cell not representable in CP949");
  }
  out.resize(out.size() - outLeft);
  return out;
}

}  // namespace mvx::testing::tds
