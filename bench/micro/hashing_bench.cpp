// Integrity validation of a snapshot directory: every file hashed, extras looked for.
#include <benchmark/benchmark.h>

#include "bench_files.h"
#include "retrieval/file_digest.h"
#include "secure/integrity.h"
#include "support/temp_dir.h"

namespace qelvo::bench {
namespace {

void BM_ValidateIntegrity(benchmark::State& state) {
  const auto files = makeFiles(static_cast<std::size_t>(state.range(0)));
  const auto directory = freshDirectory("snapshot");
  std::vector<ManifestItem> items;
  std::size_t bytes = 0;
  for (const auto& file : files) {
    test::writeFile(directory / file.href, file.content);
    items.push_back({file.href, file.content.size(), contentDigestText(file.content)});
    bytes += file.content.size();
  }
  const auto manifest = Manifest::fromItems(items);
  for (auto _ : state) {
    auto violations = validateIntegrity(directory, manifest);
    if (!violations.empty()) state.SkipWithError("the snapshot does not validate");
    benchmark::DoNotOptimize(violations);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(files.size()));
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes));
}
BENCHMARK(BM_ValidateIntegrity)->Arg(2000)->Arg(10000)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace qelvo::bench
