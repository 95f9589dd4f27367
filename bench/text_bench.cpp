// Splitting and searching local text at the sizes an imported list reaches: the
// cost should grow with the text, not with its square.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "util/codepage.h"
#include "util/text.h"

namespace {

using namespace pansift;

std::string Lines(long long count) {
  std::string text;
  const std::string name = L8("我的资源/电影 ");
  for (long long i = 0; i < count; ++i) text += name + std::to_string(i) + ".mp4\r\n";
  return text;
}

void BmSplitLines(benchmark::State& state) {
  const std::string text = Lines(state.range(0));
  for (auto _ : state) {
    std::vector<std::string> lines = SplitText(text, "\r\n");
    benchmark::DoNotOptimize(lines.data());
  }
  state.SetComplexityN(state.range(0));
  state.SetBytesProcessed(state.iterations() * static_cast<long long>(text.size()));
}
BENCHMARK(BmSplitLines)->Arg(2000)->Arg(20000)->Arg(200000)->Complexity();

// A marker that matches almost everywhere but never wholly.
void BmFindNearMisses(benchmark::State& state) {
  const std::string text(static_cast<size_t>(state.range(0)), 'a');
  const std::string marker = std::string(1000, 'a') + "b";
  for (auto _ : state) benchmark::DoNotOptimize(FindText(text, marker));
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BmFindNearMisses)->Arg(10000)->Arg(100000)->Arg(1000000)->Complexity();

}  // namespace

BENCHMARK_MAIN();
