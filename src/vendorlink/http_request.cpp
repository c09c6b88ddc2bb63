#include "vendorlink/http_request.h"

namespace mvx {

namespace {

void AddHeader(std::string& out, std::string_view name, std::string_view value) {
  out.append(name);
  out.append(": ");
  out.append(value);
  out.append("\r\n");
}

}  // namespace

std::string BuildPostRequest(std::string_view path, std::string_view host,
                             std::string_view contentType, std::string_view body,
                             std::string_view cookie) {
  std::string out;
  out.reserve(256 + body.size());
  out.append("POST ").append(path).append(" HTTP/1.0\r\n");
  AddHeader(out, "Connection", "keep-alive");
  AddHeader(out, "Content-Type", contentType);
  AddHeader(out, "Content-Length", std::to_string(body.size()));
  AddHeader(out, "Host", host);
  AddHeader(out, "Accept", kHttpAccept);
  AddHeader(out, "User-Agent", kHttpUserAgent);
  if (!cookie.empty()) AddHeader(out, "Cookie", cookie);
  out.append("\r\n");
  out.append(body);
  return out;
}

std::string BuildGetRequest(std::string_view path, std::string_view host,
                            std::string_view contentType, std::string_view cookie) {
  std::string out;
  out.append("GET ").append(path).append(" HTTP/1.1\r\n");
  AddHeader(out, "Content-Type", contentType);
  AddHeader(out, "Host", host);
  AddHeader(out, "Accept", kHttpAccept);
  AddHeader(out, "User-Agent", kHttpUserAgent);
  if (!cookie.empty()) AddHeader(out, "Cookie", cookie);
  out.append("\r\n");
  return out;
}

}  // namespace mvx
