// Throughput of the support link's response reader and form building.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "vendorlink/http_form.h"
#include "vendorlink/http_response_parser.h"

namespace {

class CountingHandler final : public mvx::HttpResponseHandler {
 public:
  void OnHeaders(const mvx::HttpResponseParser&) override {}
  void OnBody(std::string_view bytes) override { bytes_ += bytes.size(); }
  std::size_t bytes_ = 0;
};

std::string ChunkedAnswer(std::size_t bodyBytes, std::size_t chunkBytes) {
  std::string out = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
  for (std::size_t at = 0; at < bodyBytes; at += chunkBytes) {
    const std::size_t n = std::min(chunkBytes, bodyBytes - at);
    char size[32];
    std::snprintf(size, sizeof size, "%zx\r\n", n);
    out += size + std::string(n, 'x') + "\r\n";
  }
  return out + "0\r\n\r\n";
}

// A download arriving in 16 KiB reads, as the client receives it.
void BM_ParseChunkedDownload(benchmark::State& state) {
  const std::string answer = ChunkedAnswer(4 << 20, static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    mvx::HttpResponseParser parser;
    CountingHandler handler;
    for (std::size_t at = 0; at < answer.size(); at += 16384) {
      parser.Feed(std::string_view(answer).substr(at, 16384), handler);
    }
    benchmark::DoNotOptimize(handler.bytes_);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * answer.size()));
}
BENCHMARK(BM_ParseChunkedDownload)->Arg(256)->Arg(8192)->Arg(65536);

void BM_ReportFormBody(benchmark::State& state) {
  for (auto _ : state) {
    mvx::HttpForm form("--------030626140509007");
    form.AddField("SORT", "ER");
    form.AddField("ID", "INST01");
    form.AddField("DATABASE", "%C7%D1%B1%DB");
    form.AddField("ERROR", "012");
    form.AddField("PCNAME", "PC-01");
    benchmark::DoNotOptimize(form.Body());
  }
}
BENCHMARK(BM_ReportFormBody);

}  // namespace

BENCHMARK_MAIN();
