#pragma once

#include <string>
#include <string_view>

namespace mvx {

inline constexpr std::string_view kHttpAccept = "text/html, */*";
inline constexpr std::string_view kHttpUserAgent = "Mozilla/3.0 (compatible; Indy Library)";
// The client's content type until its first POST.
inline constexpr std::string_view kInitialContentType = "application/json;charset=euc-kr";

// The bytes of a form POST: request line, headers in their fixed order, an
// empty line and the body. `cookie` is left out when empty.
std::string BuildPostRequest(std::string_view path, std::string_view host,
                             std::string_view contentType, std::string_view body,
                             std::string_view cookie);

// The bytes of a GET with the client's current content type; no body.
std::string BuildGetRequest(std::string_view path, std::string_view host,
                            std::string_view contentType, std::string_view cookie);

}  // namespace mvx
