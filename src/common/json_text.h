#pragma once

#include <string>
#include <string_view>

namespace mvx {

// A UTF-8 text as a JSON string, quotes included; control characters escaped.
std::string JsonQuote(std::string_view text);

}  // namespace mvx
