#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "common/clock.h"
#include "common/text_log.h"
#include "vendorlink/link_module.h"
#include "vendorlink/link_test_support.h"

namespace mvx::testing {

// Primary and secondary support hosts on loopback; 127.0.0.4 stands for a
// host that answers pings but has nothing listening.
inline constexpr const char* kPrimary = "127.0.0.2";
inline constexpr const char* kSecondary = "127.0.0.3";
inline constexpr const char* kDeadHost = "127.0.0.4";

class LinkFixture : public ::testing::Test {
 protected:
  LinkFixture()
      : clock_(LocalDateTime::Make(2026, 3, 6, 14, 5, 9, 7)),
        log_(dir_.dir(), clock_),
        pinger_({kPrimary, kSecondary}) {}

  // Short waits, so only the test that means to wait the real time does.
  static LinkEndpoints Endpoints(std::uint16_t httpPort, std::uint16_t linePort) {
    LinkEndpoints endpoints;
    endpoints.primaryHost = kPrimary;
    endpoints.secondaryHost = kSecondary;
    endpoints.httpPort = httpPort;
    endpoints.linePort = linePort;
    endpoints.httpConnectTimeoutMs = 1000;
    endpoints.httpReadTimeoutMs = 500;
    endpoints.exchangeWaitMs = 500;
    endpoints.sendWaitMs = 500;
    return endpoints;
  }

  std::unique_ptr<TdMFunc> MakeLink(LinkEndpoints endpoints) {
    return std::make_unique<TdMFunc>(clock_, log_, std::move(endpoints), pinger_);
  }

  TempDir dir_;
  ManualClock clock_;
  TextLog log_;
  FakePinger pinger_;
};

}  // namespace mvx::testing
