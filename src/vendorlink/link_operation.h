#pragma once

#include "vendorlink/link_module.h"

namespace mvx {

// Marks one operation of the link module: the outermost one starts with no
// remembered host names, so a name is looked up once for its ping, its check
// and its connection, and afresh by the next operation.
class TdMFunc::Operation {
 public:
  explicit Operation(TdMFunc& link) : link_(link) {
    if (link_.operationDepth_++ == 0) link_.resolver_.Forget();
  }
  ~Operation() { --link_.operationDepth_; }
  Operation(const Operation&) = delete;
  Operation& operator=(const Operation&) = delete;

 private:
  TdMFunc& link_;
};

}  // namespace mvx
