// Reading every entry of a reply whose list stands beside many other members: the
// cost should grow with the reply, not with members times entries.
#include <benchmark/benchmark.h>

#include <string>

#include "json/json_doc.h"

namespace {

using namespace pansift;

std::string PaddedReply(long long padding, int entries) {
  std::string reply = "{\"errno\":0";
  for (long long i = 0; i < padding; ++i)
    reply += ",\"p\\u0061d" + std::to_string(i) + "\":" + std::to_string(i);
  reply += ",\"list\":[";
  for (int i = 0; i < entries; ++i) {
    if (i) reply += ",";
    reply += "{\"server_filename\":\"f" + std::to_string(i) + "\",\"isdir\":0,\"path\":\"\\/f" +
             std::to_string(i) + "\",\"size\":1,\"fs_id\":" + std::to_string(i) + "}";
  }
  return reply + "]}";
}

void BmReadEntriesBesidePadding(benchmark::State& state) {
  const std::string reply = PaddedReply(state.range(0), 100);
  for (auto _ : state) {
    JsonDoc doc;
    doc.parse(reply);
    int count = doc.count("list");
    for (int i = 0; i < count; ++i) {
      const std::string at = "list[" + std::to_string(i) + "].";
      for (const char* member : {"server_filename", "isdir", "path", "size", "fs_id"})
        benchmark::DoNotOptimize(doc.getText(at + member));
    }
  }
  state.SetComplexityN(state.range(0));
  state.SetBytesProcessed(state.iterations() * static_cast<long long>(reply.size()));
}
BENCHMARK(BmReadEntriesBesidePadding)->Arg(200)->Arg(2000)->Arg(20000)->Complexity();

}  // namespace

BENCHMARK_MAIN();
