// Extraction of a bundle's archive into a fresh directory.
#include <benchmark/benchmark.h>

#include "bench_files.h"
#include "retrieval/zip_extractor.h"
#include "support/zip_builder.h"

namespace qelvo::bench {
namespace {

void BM_ExtractZip(benchmark::State& state) {
  const auto files = makeFiles(static_cast<std::size_t>(state.range(0)));
  test::ZipBuilder builder;
  std::size_t bytes = 0;
  for (const auto& file : files) {
    builder.file(file.href, file.content);
    bytes += file.content.size();
  }
  const auto archive = freshDirectory("archive") / "bundle.zip";
  std::filesystem::create_directories(archive.parent_path());
  builder.write(archive);
  for (auto _ : state) {
    state.PauseTiming();
    const auto destination = freshDirectory("extracted");
    std::filesystem::create_directories(destination);
    state.ResumeTiming();
    if (!extractZip(archive, destination)) state.SkipWithError("extraction failed");
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(files.size()));
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes));
}
BENCHMARK(BM_ExtractZip)->Arg(2000)->Arg(10000)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace qelvo::bench
