#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>

#include "support/http/loopback_http_server.h"
#include "vendorlink/link_fixture.h"

namespace mvx {
namespace {

using testing::HttpReply;
using testing::HttpScriptedReply;
using testing::kPrimary;
using testing::LinkFixture;
using testing::LoopbackHttpServer;
using testing::RawReply;
using testing::ReadFileBytes;
using testing::WriteFileBytes;

class FileDownload : public LinkFixture {
 protected:
  std::vector<std::string> Listing() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }
};

TEST_F(FileDownload, FailedFetchLeavesTheOldFileAsItWas) {
  // The cap is a promise of its own: the row below refuses one byte over it.
  EXPECT_EQ(kMaxDownloadBytes, 268435456u);
  const std::string oldBytes("old program\0\x01\x02", 14);
  const HttpScriptedReply failures[] = {
      HttpReply(404, "Not Found", "no such file"),
      HttpReply(302, "Found", "", {"Location: /other.exe"}),
      RawReply("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\npartial bytes"),
      RawReply("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nabc"),
      RawReply("garbage\r\n\r\n"),
      // Ended by the close: it may have been cut.
      RawReply("HTTP/1.1 200 OK\r\n\r\nwhole program?"),
      HttpReply(200, "OK", ""),
      RawReply("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n"),
      // Refused at the headers, without waiting for the body.
      RawReply("HTTP/1.1 200 OK\r\nContent-Length: 268435457\r\n\r\nabc"),
  };
  for (const auto& reply : failures) {
    LoopbackHttpServer http(kPrimary);
    http.Enqueue(reply);
    auto link = MakeLink(Endpoints(http.Port(), 1));
    const std::string target = dir_.file("Mvx_RidOdadez.exe");
    WriteFileBytes(target, oldBytes);
    EXPECT_FALSE(link->DownloadFile(link->SupportUrl("/RazuRarevi/Mvx_RidOdadez.exe"), target));
    EXPECT_EQ(ReadFileBytes(target), oldBytes);
    EXPECT_EQ(Listing(), std::vector<std::string>{"Mvx_RidOdadez.exe"});
  }
  // The same with no file there before: none afterwards either.
  LoopbackHttpServer http(kPrimary);
  http.Enqueue(HttpReply(404, "Not Found", ""));
  auto link = MakeLink(Endpoints(http.Port(), 1));
  EXPECT_FALSE(
      link->DownloadFile(link->SupportUrl("/Common/dbexpmss.dll"), dir_.file("dbexpmss.dll")));
  EXPECT_EQ(Listing(), std::vector<std::string>{"Mvx_RidOdadez.exe"});
}

TEST_F(FileDownload, CompleteBodyReplacesTheFile) {
  std::string program(1500000, '\0');
  for (std::size_t i = 0; i < program.size(); ++i) program[i] = static_cast<char>(i * 7 % 251);
  LoopbackHttpServer http(kPrimary);
  http.Enqueue(HttpReply(200, "OK", program));
  http.Enqueue(
      RawReply("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n"));
  auto link = MakeLink(Endpoints(http.Port(), 1));
  const std::string target = dir_.file("Mvx_RidOdadez.exe");
  WriteFileBytes(target, "old");

  ASSERT_TRUE(link->DownloadFile(link->SupportUrl("/RazuRarevi/Mvx_RidOdadez.exe"), target));
  EXPECT_TRUE(ReadFileBytes(target) == program);
  EXPECT_EQ(http.Requests().at(0).rfind("GET /RazuRarevi/Mvx_RidOdadez.exe HTTP/1.1\r\n", 0), 0u);
#ifndef _WIN32
  // A link planted under the old fixed temporary name is neither followed nor replaced.
  const std::string planted = dir_.file("Mvx_RidOdadez.exe.download");
  std::filesystem::create_symlink(dir_.file("victim"), planted);
#endif
  ASSERT_TRUE(link->DownloadFile(link->SupportUrl("/chunked"), target));
  EXPECT_EQ(ReadFileBytes(target), "abc");
#ifndef _WIN32
  EXPECT_FALSE(std::filesystem::exists(dir_.file("victim")));
  std::filesystem::remove(planted);
#endif
  EXPECT_EQ(Listing(), std::vector<std::string>{"Mvx_RidOdadez.exe"});
}

TEST_F(FileDownload, UnwritableTargetRaises) {
  LoopbackHttpServer http(kPrimary);
  auto link = MakeLink(Endpoints(http.Port(), 1));
  EXPECT_THROW(link->DownloadFile(link->SupportUrl("/x"), dir_.file("missing/x.exe")),
               std::runtime_error);
  EXPECT_TRUE(http.Requests().empty());
}

}  // namespace
}  // namespace mvx
