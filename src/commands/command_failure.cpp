#include "commands/command_failure.h"

#include <algorithm>
#include <ostream>

#include "common/json_text.h"
#include "common/text_util.h"

namespace mvx {

std::string PluginText(std::string_view text) {
  std::string out;
  for (const char c : ValidUtf8(text)) {
    if (c == '|') {
      out += "\xC2\xA6";  // the broken bar looks the same and means nothing to a monitor
    } else {
      out += c;
    }
  }
  return out;
}

void WriteCommandFailure(std::ostream& out, bool json, std::string_view reason, int exitCode) {
  const std::string summary = "RAZURAREVI UNKNOWN - " + std::string(reason);
  if (json) {
    out << "{\"status\":\"UNKNOWN\",\"summary\":" << JsonQuote(summary)
        << ",\"reason\":" << JsonQuote(reason) << ",\"exitCode\":" << exitCode
        << ",\"items\":[]}\n";
  } else {
    out << PluginText(summary) << "\n";
  }
}

bool AsksForJson(const std::vector<std::string>& args) {
  return std::find(args.begin(), args.end(), "--json") != args.end();
}

}  // namespace mvx
