#pragma once

#include <string>
#include <string_view>

namespace mvx {

// Which volume holds the path (a "\"-separated path is taken in the platform's form): equal
// texts for two paths on one volume; empty when the system cannot tell.
std::string DiskIdentity(std::string_view path);

}  // namespace mvx
