// Decoding a bundle's manifest: Base64, JSON, and the item set.
#include <benchmark/benchmark.h>

#include "bench_files.h"
#include "qelvo/manifest.h"
#include "retrieval/file_digest.h"

namespace qelvo::bench {
namespace {

void BM_DecodeManifest(benchmark::State& state) {
  std::vector<ManifestItem> items;
  for (const auto& file : makeFiles(static_cast<std::size_t>(state.range(0)))) {
    items.push_back({file.href, file.content.size(), contentDigestText(file.content)});
  }
  const auto text = Manifest::fromItems(items).encode();
  for (auto _ : state) {
    auto manifest = Manifest::decode(text);
    if (!manifest) state.SkipWithError("the manifest does not decode");
    benchmark::DoNotOptimize(manifest);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_DecodeManifest)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace qelvo::bench
