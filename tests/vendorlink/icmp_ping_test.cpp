#include <gtest/gtest.h>

#include <stdexcept>

#include "support/http/icmp_capture.h"
#include "vendorlink/icmp_echo.h"
#include "vendorlink/pinger.h"

namespace mvx {
namespace {

TEST(IcmpEcho, RequestAndReplyMatching) {
  const std::string request = BuildEchoRequest(0x1234, 7);
  ASSERT_EQ(request.size(), 8u + 56u);
  EXPECT_EQ(InternetChecksum(request), 0) << "checksum must verify";
  EXPECT_EQ(request.substr(8), EchoPayload());

  std::string reply = request;
  reply[0] = 0;  // echo reply
  std::string withIp = std::string("\x45") + std::string(19, '\0') + reply;
  EXPECT_TRUE(IsEchoReply(reply, false, true, 0x1234, 7));
  EXPECT_TRUE(IsEchoReply(withIp, true, true, 0x1234, 7));
  EXPECT_FALSE(IsEchoReply(reply, false, true, 0x1235, 7));
  EXPECT_TRUE(IsEchoReply(reply, false, false, 0x1235, 7));
  EXPECT_FALSE(IsEchoReply(reply, false, true, 0x1234, 8));
  EXPECT_FALSE(IsEchoReply(request, false, true, 0x1234, 7));  // our own request
  EXPECT_FALSE(IsEchoReply(reply.substr(0, 20), false, true, 0x1234, 7));
  EXPECT_FALSE(IsEchoReply(std::string("\x4f", 1), true, true, 0x1234, 7));
}

// Real ICMP to loopback; the whole 127.0.0.0/8 answers on Linux.
TEST(IcmpPinger, LoopbackAddressesAnswer) {
  std::unique_ptr<IcmpPinger> pinger;
  try {
    pinger = std::make_unique<IcmpPinger>(3000);
  } catch (const std::runtime_error& e) {
    GTEST_SKIP() << "no ICMP socket here: " << e.what();
  }
  RecordProperty("method", pinger->Method());
  for (const char* host : {"127.0.0.1", "127.0.0.5"}) {
    PingResult result = pinger->Ping(host);
    EXPECT_TRUE(result.answered) << host;
    EXPECT_EQ(result.address, host);
  }
  // Names are the link module's to resolve, within its bound.
  EXPECT_FALSE(pinger->Ping("localhost").answered);
  EXPECT_FALSE(pinger->Ping("").answered);
}

// The echo as it leaves: 56 data bytes, time to live 64, no IP header flags.
TEST(IcmpPinger, EchoRequestOnTheWire) {
  std::unique_ptr<IcmpPinger> pinger;
  std::unique_ptr<testing::IcmpCapture> capture;
  try {
    pinger = std::make_unique<IcmpPinger>(3000);
    capture = std::make_unique<testing::IcmpCapture>();
  } catch (const std::runtime_error& e) {
    GTEST_SKIP() << e.what();
  }
  EXPECT_TRUE(pinger->Ping("127.0.0.7").answered);
  const auto request = capture->WaitForRequest("127.0.0.7", 2000);
  ASSERT_TRUE(request.has_value());
  EXPECT_EQ(request->dataBytes, 56u);
  EXPECT_EQ(request->ttl, 64);
  EXPECT_EQ(request->flags, 0) << "don't-fragment or another flag set";
}

}  // namespace
}  // namespace mvx
