#include "common/json_text.h"

#include <cstdio>

#include "common/text_util.h"

namespace mvx {

std::string JsonQuote(std::string_view text) {
  std::string quoted = "\"";
  // JSON is UTF-8: a name in another encoding must not make the whole document invalid.
  for (const char c : ValidUtf8(text)) {
    switch (c) {
      case '"':
        quoted += "\\\"";
        break;
      case '\\':
        quoted += "\\\\";
        break;
      case '\n':
        quoted += "\\n";
        break;
      case '\r':
        quoted += "\\r";
        break;
      case '\t':
        quoted += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
          quoted += escaped;
        } else {
          quoted += c;
        }
    }
  }
  quoted += '"';
  return quoted;
}

}  // namespace mvx
