// FileCrc32 of $HOPWELL_BENCH_DATA/crc.bin (1 GiB, made by bench/run_storage_bench.sh).
#include <cstdlib>

#include <benchmark/benchmark.h>
#include <boost/filesystem/operations.hpp>

#include "storage/FileOperations.h"

namespace {

void BM_FileCrc32(benchmark::State& state) {
  const char* data = std::getenv("HOPWELL_BENCH_DATA");
  if (data == nullptr) return state.SkipWithError("HOPWELL_BENCH_DATA not set");
  const boost::filesystem::path file = boost::filesystem::path(data) / "crc.bin";
  for (auto _ : state) benchmark::DoNotOptimize(hopwell::FileCrc32(file));
  state.SetBytesProcessed(state.iterations() *
                          static_cast<std::int64_t>(boost::filesystem::file_size(file)));
}

BENCHMARK(BM_FileCrc32)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
