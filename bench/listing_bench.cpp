// Reading listing replies: parsing a page and taking every entry out of it, as the
// crawler and the tree do for each page the service sends.
#include <benchmark/benchmark.h>

#include <string>

#include "json/json_doc.h"
#include "netdisk/listing.h"

namespace {

using namespace pansift;

// A reply shaped like the service's: compact JSON, names with \u escapes, "\/" in paths.
std::string ListingReply(int entries) {
  std::string list;
  for (int i = 0; i < entries; ++i) {
    if (i) list += ',';
    std::string n = std::to_string(i);
    list += "{\"server_filename\":\"\\u7535\\u5f71 " + n +
            " & Tom's [1].mp4\",\"isdir\":" + std::string(i % 10 == 0 ? "1" : "0") +
            ",\"path\":\"\\/\\u6211\\u7684\\u8d44\\u6e90\\/\\u7535\\u5f71 " + n +
            ".mp4\",\"size\":" + std::to_string(1048576 + i) +
            ",\"fs_id\":" + std::to_string(388670939482157LL + i) +
            ",\"category\":1,\"server_mtime\":1690000100,\"local_mtime\":1690000100,\"unlist\":0}";
  }
  return "{\"errno\":0,\"guid_info\":\"\",\"list\":[" + list +
         "],\"request_id\":7431098137466789000,\"guid\":0}";
}

void BmReadEntries(benchmark::State& state) {
  const std::string reply = ListingReply(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    std::vector<NetdiskEntry> entries = ReadEntries(reply);
    benchmark::DoNotOptimize(entries.data());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
  state.SetBytesProcessed(state.iterations() * static_cast<long long>(reply.size()));
}
BENCHMARK(BmReadEntries)->Arg(100)->Arg(200)->Arg(1000);

void BmParseOnly(benchmark::State& state) {
  const std::string reply = ListingReply(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    JsonDoc doc;
    benchmark::DoNotOptimize(doc.parse(reply));
  }
  state.SetBytesProcessed(state.iterations() * static_cast<long long>(reply.size()));
}
BENCHMARK(BmParseOnly)->Arg(100)->Arg(1000);

}  // namespace

BENCHMARK_MAIN();
