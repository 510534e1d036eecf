// Zip creation and extraction on the data that bench/run_storage_bench.sh generates
// ($HOPWELL_BENCH_DATA: big.bin, small/, big.zip, small.zip). Without it the benchmarks
// are skipped.
#include <unistd.h>

#include <cstdlib>

#include <benchmark/benchmark.h>
#include <boost/filesystem/operations.hpp>

#include "intake/JobStatus.h"
#include "storage/ZipExtractor.h"
#include "storage/ZipFiles.h"

namespace {

namespace fs = boost::filesystem;
using hopwell::JobStatus;

fs::path DataFolder() {
  const char* data = std::getenv("HOPWELL_BENCH_DATA");
  return data != nullptr ? fs::path(data) : fs::path();
}

void Zip(benchmark::State& state, const std::vector<fs::path>& sources,
         const std::vector<std::string>& names) {
  const fs::path archive = DataFolder() / "out" / "bench.zip";
  fs::create_directories(archive.parent_path());
  for (auto _ : state) {
    // Like the Debian tool in the script, each run starts without an archive.
    state.PauseTiming();
    fs::remove(archive);
    ::sync();  // the removal's disk work must not land in the timed run
    state.ResumeTiming();
    auto job = std::make_shared<JobStatus>(hopwell::ActionKind::Upload, "bench", "bench");
    if (!hopwell::ZipFiles(sources, names, archive, 0, job)) state.SkipWithError("ZipFiles failed");
  }
  fs::remove_all(archive.parent_path());
}

void BM_ZipFiles_BigFile(benchmark::State& state) {
  if (DataFolder().empty()) return state.SkipWithError("HOPWELL_BENCH_DATA not set");
  Zip(state, {DataFolder() / "big.bin"}, {"big.bin"});
}

void BM_ZipFiles_SmallFiles(benchmark::State& state) {
  if (DataFolder().empty()) return state.SkipWithError("HOPWELL_BENCH_DATA not set");
  std::vector<fs::path> sources;
  for (const auto& entry : fs::directory_iterator(DataFolder() / "small")) {
    sources.push_back(entry.path());
  }
  std::sort(sources.begin(), sources.end());
  std::vector<std::string> names;
  for (const auto& source : sources) names.push_back("small/" + source.filename().string());
  Zip(state, sources, names);
}

void Extract(benchmark::State& state, const char* archive) {
  if (DataFolder().empty()) return state.SkipWithError("HOPWELL_BENCH_DATA not set");
  const fs::path destination = DataFolder() / "unpacked-hopwell";
  for (auto _ : state) {
    // Like unzip in the script, each run unpacks into a fresh folder.
    state.PauseTiming();
    fs::remove_all(destination);
    ::sync();
    state.ResumeTiming();
    if (!hopwell::ZipExtractor(DataFolder() / archive).Extract(true, destination)) {
      state.SkipWithError("Extract failed");
    }
  }
  fs::remove_all(destination);
}

void BM_Extract_BigArchive(benchmark::State& state) {
  Extract(state, "big.zip");
}
void BM_Extract_SmallFilesArchive(benchmark::State& state) {
  Extract(state, "small.zip");
}

BENCHMARK(BM_ZipFiles_BigFile)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_ZipFiles_SmallFiles)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_Extract_BigArchive)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_Extract_SmallFilesArchive)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
