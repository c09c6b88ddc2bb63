#pragma once

#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace mvx {

// The one line an operator command prints on standard output when it cannot do its work
// (usage errors included), as monitoring plugins give it: "RAZURAREVI UNKNOWN - <reason>";
// with `json` an object {"status":"UNKNOWN","summary":...,"reason":...,"exitCode":...}.
void WriteCommandFailure(std::ostream& out, bool json, std::string_view reason, int exitCode);

// True when the words ask for JSON, read before (and whether or not) the rest is understood.
bool AsksForJson(const std::vector<std::string>& args);

// Text for a terminal or a monitoring system: valid UTF-8 (U+FFFD for what is not), and no
// '|', which would start perfdata.
std::string PluginText(std::string_view text);

}  // namespace mvx
